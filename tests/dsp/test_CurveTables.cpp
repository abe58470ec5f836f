#include <gtest/gtest.h>

#include <cstddef>

#include "dsp/CurveTables.h"

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
