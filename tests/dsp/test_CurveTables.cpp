#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "DspPins.h"
#include "dsp/CurveTables.h"

namespace
{

// Every entry's exact bits. A change in any last digit changes every
// compressed sample; a deliberate retune rewrites these and the checksum in
// the same commit, and says why.
const uint32_t kCurveBits[200] = {
  0x00000000, 0x2ded7e98, 0x2f00a493, 0x2f9cae2f, 0x3017bb8c, 0x3081e13b, 0x30cd9bd2, 0x311a69a4,
  0x315f79ca, 0x319d4c84, 0x31d8bdc1, 0x3212e34c, 0x324489a7, 0x32821ece, 0x32aada93, 0x32ded077,
  0x33107cac, 0x333a88e4, 0x336feceb, 0x3399d276, 0x33c4bc3b, 0x33fb17a6, 0x341ff449, 0x344b7e96,
  0x34814939, 0x34a41bca, 0x34d020d2, 0x3503e0b6, 0x35270379, 0x355361c5, 0x3585b141, 0x35a904ab,
  0x35d58e80, 0x3606d573, 0x362a2584, 0x36568b19, 0x3687244c, 0x36aa12ba, 0x36d5c3a6, 0x3706232e,
  0x37280a41, 0x37520fa4, 0x3782f6af, 0x37a2d176, 0x37c9bb62, 0x37f8fa60, 0x3818fa3a, 0x383b15b4,
  0x38639b6f, 0x3889af59, 0x38a59b41, 0x38c5fcfa, 0x38eb3e72, 0x390ae347, 0x3922fc09, 0x393e186e,
  0x395c64af, 0x397e0a32, 0x399197c2, 0x39a5fc32, 0x39bc42ee, 0x39d47b36, 0x39eeb315, 0x3a057bbb,
  0x3a14aa1f, 0x3a24ea2d, 0x3a3640ef, 0x3a48b306, 0x3a5c44b6, 0x3a70f9ed, 0x3a836b26, 0x3a8eee95,
  0x3a9b08d0, 0x3aa7bb46, 0x3ab50747, 0x3ac2ee0f, 0x3ad170bf, 0x3ae09066, 0x3af04dfc, 0x3b005536,
  0x3b08d345, 0x3b11a191, 0x3b1ac077, 0x3b24304d, 0x3b2df163, 0x3b380406, 0x3b42687a, 0x3b4d1f02,
  0x3b5827d8, 0x3b638336, 0x3b6f3150, 0x3b7b3257, 0x3b83c33b, 0x3b8a16ed, 0x3b909455, 0x3b973b83,
  0x3b9e0c89, 0x3ba50777, 0x3bac2c5b, 0x3bb37b41, 0x3bbaf436, 0x3bc29745, 0x3bca6478, 0x3bd25bd9,
  0x3bda7d6e, 0x3be2c942, 0x3beb3f59, 0x3bf3dfba, 0x3bfcaa6b, 0x3c02cfb8, 0x3c075f67, 0x3c0c0443,
  0x3c10be4f, 0x3c158d8c, 0x3c1a71fb, 0x3c1f6b9c, 0x3c247a6f, 0x3c299e76, 0x3c2ed7b0, 0x3c34261d,
  0x3c3989bd, 0x3c3f028f, 0x3c449093, 0x3c4a33c7, 0x3c4fec2a, 0x3c55b9bc, 0x3c5b9c7b, 0x3c619466,
  0x3c67a17a, 0x3c6dc3b6, 0x3c73fb19, 0x3c7a47a0, 0x3c8054a4, 0x3c839009, 0x3c86d5fc, 0x3c8a267c,
  0x3c8d8189, 0x3c90e721, 0x3c945742, 0x3c97d1eb, 0x3c9b571b, 0x3c9ee6d0, 0x3ca28109, 0x3ca625c3,
  0x3ca9d4fe, 0x3cad8eb7, 0x3cb152ee, 0x3cb5219f, 0x3cb8faca, 0x3cbcde6d, 0x3cc0cc86, 0x3cc4c512,
  0x3cc8c811, 0x3cccd57f, 0x3cd0ed5c, 0x3cd50fa6, 0x3cd93c59, 0x3cdd7375, 0x3ce1b4f7, 0x3ce600dd,
  0x3cea5725, 0x3ceeb7cd, 0x3cf322d2, 0x3cf79834, 0x3cfc17ef, 0x3d005100, 0x3d029b34, 0x3d04ea91,
  0x3d073f16, 0x3d0998c3, 0x3d0bf795, 0x3d0e5b8d, 0x3d10c4a8, 0x3d1332e6, 0x3d15a645, 0x3d181ec4,
  0x3d1a9c63, 0x3d1d1f1f, 0x3d1fa6f8, 0x3d2233ed, 0x3d24c5fb, 0x3d275d23, 0x3d29f963, 0x3d2c9ab9,
  0x3d2f4125, 0x3d31eca5, 0x3d349d37, 0x3d3752dc, 0x3d3a0d91, 0x3d3ccd55, 0x3d3f9227, 0x3d425c05,
  0x3d452af0, 0x3d47fee4, 0x3d4ad7e1, 0x3d4db5e6, 0x3d5098f1, 0x3d538101, 0x3d566e14, 0x3d59602b,
};
constexpr uint64_t kCurveChecksum = 0xc5e8d322570ebdb9ull;

} // namespace

TEST(CurveTables, RecordLayoutAndKnownEntries)
{
  for (const CurveTable* t : {&detector_table, &Tavlo_table})
  {
    EXPECT_EQ(t->origin, 0.0f);
    EXPECT_EQ(t->count, 200);
    EXPECT_EQ(static_cast<double>(t->scale), 142.14300537109375);
    EXPECT_EQ(t->end, 0.0530702f);
    EXPECT_EQ(t->values[0], 0.0f);
    EXPECT_EQ(t->values[1], 2.7e-11f);
    EXPECT_EQ(t->values[13], 1.5148e-08f);
    EXPECT_EQ(t->values[143], 0.020281678f);
    EXPECT_EQ(static_cast<double>(t->values[199]), 0.053070228546857834);
  }
  // Header fields come first: origin, end, scale, count, then the values.
  EXPECT_EQ(offsetof(CurveTable, values), 16u);
  EXPECT_EQ(sizeof(CurveTable), 16u + 200u * 4u);
}

TEST(CurveTables, MonotonicAndShared)
{
  for (int k = 1; k < 200; ++k)
  {
    EXPECT_GT(detector_table.values[k], detector_table.values[k - 1]) << "entry " << k;
    EXPECT_EQ(detector_table.values[k], Tavlo_table.values[k]) << "entry " << k;
  }
  // Two records, not one record under two names.
  EXPECT_NE(&detector_table, &Tavlo_table);
}

TEST(CurveTables, EveryEntryIsPinnedToItsExactBits)
{
  // The pinned copy is the one the checksum names.
  ASSERT_EQ(dsppins::Checksum(kCurveBits, sizeof kCurveBits), kCurveChecksum);
  for (const CurveTable* t : {&detector_table, &Tavlo_table})
  {
    SCOPED_TRACE(t == &detector_table ? "detector_table" : "Tavlo_table");
    EXPECT_EQ(dsppins::Checksum(t->values, sizeof t->values), kCurveChecksum)
      << dsppins::FirstDifference(t->values, kCurveBits, 200);
  }
}
