#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "base_test_plug.h"
#include "fx/IFxStateTail.h"
#include "kit/KitString.h"

namespace
{
std::vector<uint8_t> Bytes(const ByteChunk& c)
{
  return std::vector<uint8_t>(c.Data(), c.Data() + c.Size());
}

std::vector<uint8_t> LE(double v)
{
  uint8_t b[8];
  memcpy(b, &v, 8);
  return std::vector<uint8_t>(b, b + 8);
}

void Put(std::vector<uint8_t>& out, const std::vector<uint8_t>& more)
{
  out.insert(out.end(), more.begin(), more.end());
}

void Declare(TestPlug& plug)
{
  plug.ParamAt(0)->InitDouble("Gain", 0.0, -20.0, 20.0, 0.01);
  plug.ParamAt(1)->InitInt("Mode", 1, 0, 3);
  plug.ParamAt(2)->InitBool("On", false);
}

std::string ReadFile(const std::string& path)
{
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string TempPath(const char* name)
{
  return std::string("/tmp/tavlo_test_") + std::to_string(getpid()) + "_" + name;
}
} // namespace

TEST(ByteChunkLayout, AppendsLittleEndianItems)
{
  ByteChunk c;
  EXPECT_EQ(c.Append(1.5), 8);
  EXPECT_EQ(c.Append((int)0x01020304), 12);
  EXPECT_EQ(c.Append(true), 13);
  EXPECT_EQ(c.Append(false), 14);
  EXPECT_EQ(c.AppendString("AB"), 20);
  EXPECT_EQ(c.AppendString(""), 24);
  std::vector<uint8_t> want = {0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 4, 3, 2, 1, 1, 0,
                               2, 0, 0, 0, 'A', 'B', 0, 0, 0, 0};
  EXPECT_EQ(Bytes(c), want);

  ByteChunk d;
  d.Append(7);
  EXPECT_EQ(d.AppendChunk(&c), 28);  // no length prefix
  EXPECT_EQ(d.Data()[4], 0);
  EXPECT_EQ(d.Data()[10], 0xF8);
  EXPECT_EQ(d.AppendChunk(&d), 56);  // appending itself doubles it
  EXPECT_EQ(d.Data()[28], 7);
  EXPECT_EQ(d.Data()[38], 0xF8);

  c.Clear();
  EXPECT_EQ(c.Size(), 0);
}

TEST(ByteChunkRead, TypedReadsAreBoundsChecked)
{
  ByteChunk c;
  c.Append(2.25);
  c.Append(-3);
  uint8_t two = 2;
  c.AppendBytes(&two, 1);

  double d = 9.0;
  EXPECT_EQ(c.Read(&d, 0), 8);
  EXPECT_EQ(d, 2.25);
  int i = 0;
  EXPECT_EQ(c.Read(&i, 8), 12);
  EXPECT_EQ(i, -3);
  bool b = false;
  EXPECT_EQ(c.Read(&b, 12), 13);  // any non-zero byte is true
  EXPECT_TRUE(b);

  // Failed reads leave the target alone.
  d = 9.0;
  EXPECT_EQ(c.Read(&d, 6), -1);
  EXPECT_EQ(c.Read(&d, -1), -1);
  EXPECT_EQ(c.Read(&d, 13), -1);
  EXPECT_EQ(c.Read(&d, INT_MAX - 2), -1);  // would wrap in 32 bits
  EXPECT_EQ(c.Read(&d, INT_MIN), -1);
  EXPECT_EQ(d, 9.0);
  EXPECT_EQ(c.Read(&i, 10), -1);
  EXPECT_EQ(c.Read(&b, 13), -1);
}

TEST(ByteChunkRead, StringsIncludingHostileLengths)
{
  ByteChunk c;
  c.AppendString("");
  c.AppendString("hello");
  KitString s("unchanged");

  EXPECT_EQ(c.ReadString(&s, 0), 4);
  EXPECT_STREQ(s.Get(), "");
  EXPECT_EQ(c.ReadString(&s, 4), 13);
  EXPECT_STREQ(s.Get(), "hello");

  // Cut at the first NUL among the characters.
  ByteChunk n;
  n.Append(4);
  n.AppendBytes("ab\0c", 4);
  EXPECT_EQ(n.ReadString(&s, 0), 8);
  EXPECT_STREQ(s.Get(), "ab");

  // Running past the end: the end position comes back, the string does not change.
  ByteChunk shortItem;
  shortItem.Append(10);
  shortItem.AppendBytes("abc", 3);
  s.Set("keep");
  EXPECT_EQ(shortItem.ReadString(&s, 0), 14);
  EXPECT_STREQ(s.Get(), "keep");
  EXPECT_EQ(shortItem.ReadString(&s, 5), -1);  // length itself unreadable

  // A length near 2^31: no wrap-around, no read outside the chunk.
  for (int hostile : {INT_MAX, INT_MAX - 3, INT_MAX - 4})
  {
    ByteChunk h;
    h.Append(hostile);
    h.AppendBytes("xyz", 3);
    s.Set("keep");
    int end = h.ReadString(&s, 0);
    if (hostile > INT_MAX - 4)
      EXPECT_EQ(end, -1) << hostile;  // the end is not representable
    else
      EXPECT_EQ(end, INT_MAX) << hostile;
    EXPECT_STREQ(s.Get(), "keep");
  }

  // A negative length is refused rather than moving the position backwards.
  for (int hostile : {-1, -4, -8, INT_MIN})
  {
    ByteChunk h;
    h.Append(0);
    h.Append(hostile);
    h.AppendBytes("abcdefgh", 8);
    s.Set("keep");
    EXPECT_EQ(h.ReadString(&s, 4), -1) << hostile;
    EXPECT_STREQ(s.Get(), "keep");
  }
}

TEST(BaseState, ParamsRoundTripAsPlainDoubles)
{
  TestPlug plug(3, "2-2");
  Declare(plug);
  plug.ParamAt(0)->SetValue(-6.5);
  ByteChunk c;
  EXPECT_TRUE(plug.SerializeState(&c));
  std::vector<uint8_t> want;
  Put(want, LE(-6.5));
  Put(want, LE(1.0));
  Put(want, LE(0.0));
  EXPECT_EQ(Bytes(c), want);

  TestPlug other(3, "2-2");
  Declare(other);
  EXPECT_EQ(other.UnserializeState(&c, 0), 24);
  EXPECT_EQ(other.ParamAt(0)->GetValue(), -6.5);
  EXPECT_EQ(other.mChanged, (std::vector<int>{0, 1, 2}));

  // Reading from an offset and clamping to the current ranges.
  ByteChunk d;
  d.Append(12345);
  d.Append(99.0);
  d.Append(-7.0);
  d.Append(1.0);
  EXPECT_EQ(other.UnserializeParams(&d, 4), 28);
  EXPECT_EQ(other.ParamAt(0)->GetValue(), 20.0);
  EXPECT_EQ(other.ParamAt(1)->GetValue(), 0.0);
  EXPECT_EQ(other.ParamAt(2)->GetValue(), 1.0);
}

TEST(BaseState, ShortStateSetsWhatItHasAndReportsFailure)
{
  TestPlug plug(3, "2-2");
  Declare(plug);
  plug.ParamAt(2)->SetValue(1.0);
  ByteChunk c;
  c.Append(5.0);
  c.Append((int)7);  // half a double
  EXPECT_EQ(plug.UnserializeParams(&c, 0), -1);
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 5.0);
  EXPECT_EQ(plug.ParamAt(1)->GetValue(), 0.0);  // 0.0 clamped to 0..3
  EXPECT_EQ(plug.ParamAt(2)->GetValue(), 1.0);  // untouched
  EXPECT_EQ(plug.mChanged.size(), 3u);

  // A NaN in stored data does not reach the parameter.
  ByteChunk n;
  n.Append(std::nan(""));
  EXPECT_EQ(plug.UnserializeParams(&n, 0), -1);
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 0.0);
  EXPECT_EQ(plug.UnserializeParams(&n, -1), -1);
}

TEST(BaseState, CompareStateReadsDoublesFromAnElementOffset)
{
  TestPlug plug(3, "2-2");
  Declare(plug);
  plug.ParamAt(0)->SetValue(1.25);
  double data[5] = {100.0, 100.0, 1.25, 1.0, 0.0};
  EXPECT_TRUE(plug.CompareState((const unsigned char*)data, 2));
  EXPECT_FALSE(plug.CompareState((const unsigned char*)data, 0));
  data[3] = 1.0 + 2e-5;
  EXPECT_FALSE(plug.CompareState((const unsigned char*)data, 2));
  data[3] = 1.0 + 5e-6;
  EXPECT_TRUE(plug.CompareState((const unsigned char*)data, 2));
  TestPlug none(0, "2-2");
  EXPECT_TRUE(none.CompareState(nullptr, 0));
}

TEST(BasePresets, BankLayoutAndRoundTrip)
{
  TestPlug plug(1, "2-2", 2);
  plug.ParamAt(0)->InitDouble("G", 0.0, -1.0, 1.0, 0.01);
  plug.ParamAt(0)->SetValue(0.5);
  plug.MakeDefaultPreset("A", 1);
  EXPECT_STREQ(plug.GetPresetName(0), "A");
  EXPECT_STREQ(plug.GetPresetName(1), "empty");
  EXPECT_STREQ(plug.GetPresetName(2), "");
  EXPECT_STREQ(plug.GetPresetName(-1), "");

  // The free slot gets its name from the bank writer: rename through a bank.
  ByteChunk bank;
  EXPECT_TRUE(plug.SerializePresets(&bank));
  std::vector<uint8_t> want = {1, 0, 0, 0, 'A', 1};
  Put(want, LE(0.5));
  Put(want, {5, 0, 0, 0, 'e', 'm', 'p', 't', 'y', 0});
  EXPECT_EQ(Bytes(bank), want);

  // The two-slot example: A initialised with S, B free.
  ByteChunk ab;
  ab.AppendString("A");
  ab.Append(true);
  ab.Append(0.25);
  ab.AppendString("B");
  ab.Append(false);
  TestPlug reader(1, "2-2", 2);
  reader.ParamAt(0)->InitDouble("G", 0.0, -1.0, 1.0, 0.01);
  EXPECT_EQ(reader.UnserializePresets(&ab, 0), ab.Size());
  EXPECT_STREQ(reader.GetPresetName(0), "A");
  EXPECT_STREQ(reader.GetPresetName(1), "B");
  EXPECT_EQ(reader.ParamAt(0)->GetValue(), 0.25);  // preset 0 restored at the end
  ByteChunk again;
  reader.SerializePresets(&again);
  std::vector<uint8_t> abWant = {1, 0, 0, 0, 'A', 1};
  Put(abWant, LE(0.25));
  Put(abWant, {1, 0, 0, 0, 'B', 0});
  EXPECT_EQ(Bytes(again), abWant);

  // Stored values are normalised to the current ranges.
  ByteChunk wide;
  wide.AppendString("W");
  wide.Append(true);
  wide.Append(4.0);
  EXPECT_EQ(reader.UnserializePresets(&wide, 0), -1);  // slot 1 is missing
  ByteChunk slot0;
  reader.SerializePresets(&slot0);
  EXPECT_EQ(slot0.Data()[4], 'W');
  double stored;
  slot0.Read(&stored, 6);
  EXPECT_EQ(stored, 1.0);
  // The slot where the bank ended keeps its name.
  EXPECT_STREQ(reader.GetPresetName(1), "B");
}

TEST(BasePresets, RestoreFreeSlotCapturesCurrentSettings)
{
  TestPlug plug(1, "2-2", 3);
  plug.ParamAt(0)->InitDouble("G", 0.0, -1.0, 1.0, 0.01);
  plug.ParamAt(0)->SetValue(0.75);
  EXPECT_FALSE(plug.RestorePreset(3));
  EXPECT_FALSE(plug.RestorePreset(-1));
  EXPECT_EQ(plug.mPresetsChanged, 0);

  EXPECT_TRUE(plug.RestorePreset(1));
  EXPECT_STREQ(plug.GetPresetName(1), "user preset 1");
  EXPECT_EQ(plug.GetCurrentPresetIdx(), 1);
  EXPECT_EQ(plug.mPresetsChanged, 1);
  EXPECT_TRUE(plug.RestorePreset(2));
  EXPECT_STREQ(plug.GetPresetName(2), "user preset 2");

  plug.ParamAt(0)->SetValue(-0.5);
  EXPECT_TRUE(plug.RestorePreset("user preset 1"));
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 0.75);
  EXPECT_FALSE(plug.RestorePreset("user preset"));
  EXPECT_FALSE(plug.RestorePreset(""));
  EXPECT_FALSE(plug.RestorePreset((const char*)nullptr));

  // A short slot state applies what it has and fails.
  TestPlug shortOne(2, "2-2", 1);
  shortOne.ParamAt(0)->InitDouble("A", 0.0, 0.0, 1.0, 0.01);
  shortOne.ParamAt(1)->InitDouble("B", 0.5, 0.0, 1.0, 0.01);
  ByteChunk half;
  half.Append(0.25);
  shortOne.MakePresetFromChunk("half", &half);
  EXPECT_FALSE(shortOne.RestorePreset(0));
  EXPECT_EQ(shortOne.ParamAt(0)->GetValue(), 0.25);
  EXPECT_EQ(shortOne.ParamAt(1)->GetValue(), 0.0);
  EXPECT_EQ(shortOne.mPresetsChanged, 0);
}

TEST(BasePresets, MakersFillTheFirstFreeSlot)
{
  TestPlug plug(3, "2-2", 6);
  Declare(plug);
  plug.ParamAt(0)->SetValue(3.0);

  plug.MakeDefaultPreset(nullptr, 1);
  EXPECT_STREQ(plug.GetPresetName(0), "Empty");

  plug.MakePreset("explicit", -2.5, 3, 1);
  plug.MakePresetFromNamedParams("named", 1, 2, 1);
  plug.MakePresetFromBlob("blob", "AAAAAAAAJEA=", 24);  // 10.0, then zeros
  ByteChunk c;
  c.Append(1.0);
  c.Append(2.0);
  c.Append(0.0);
  plug.MakePresetFromChunk("chunk", &c);

  ByteChunk bank;
  plug.SerializePresets(&bank);
  KitString name;
  int pos = 0;
  double v[3];
  bool init;
  // slot 0: default
  pos = bank.ReadString(&name, pos);
  pos = bank.Read(&init, pos);
  for (double& x : v) pos = bank.Read(&x, pos);
  EXPECT_EQ(v[0], 3.0);
  EXPECT_EQ(v[1], 1.0);
  // slot 1: explicit values, ints passed as ints
  pos = bank.ReadString(&name, pos);
  pos = bank.Read(&init, pos);
  for (double& x : v) pos = bank.Read(&x, pos);
  EXPECT_STREQ(name.Get(), "explicit");
  EXPECT_EQ(v[0], -2.5);
  EXPECT_EQ(v[1], 3.0);
  EXPECT_EQ(v[2], 1.0);
  // slot 2: only parameter 2 named; the rest are the current values
  pos = bank.ReadString(&name, pos);
  pos = bank.Read(&init, pos);
  for (double& x : v) pos = bank.Read(&x, pos);
  EXPECT_STREQ(name.Get(), "named");
  EXPECT_EQ(v[0], 3.0);
  EXPECT_EQ(v[1], 1.0);
  EXPECT_EQ(v[2], 1.0);
  // slot 3: decoded blob
  pos = bank.ReadString(&name, pos);
  pos = bank.Read(&init, pos);
  for (double& x : v) pos = bank.Read(&x, pos);
  EXPECT_STREQ(name.Get(), "blob");
  EXPECT_EQ(v[0], 10.0);
  EXPECT_EQ(v[1], 0.0);
  // slot 4: chunk bytes as given
  pos = bank.ReadString(&name, pos);
  pos = bank.Read(&init, pos);
  for (double& x : v) pos = bank.Read(&x, pos);
  EXPECT_STREQ(name.Get(), "chunk");
  EXPECT_EQ(v[1], 2.0);
  // slot 5: still free
  pos = bank.ReadString(&name, pos);
  pos = bank.Read(&init, pos);
  EXPECT_FALSE(init);
  EXPECT_EQ(pos, bank.Size());

  // Every slot full: the makers do nothing.
  plug.EnsureDefaultPreset();
  EXPECT_STREQ(plug.GetPresetName(5), "Empty");
  plug.MakePresetFromChunk("no room", &c);
  for (int i = 0; i < 6; ++i) EXPECT_STRNE(plug.GetPresetName(i), "no room");

  // Named parameters: an unknown index ends the list safely.
  TestPlug named(3, "2-2", 1);
  Declare(named);
  named.MakePresetFromNamedParams("n", 3, 0, 4.5, 7, 1.0, 1, 2);
  ByteChunk nb;
  named.SerializePresets(&nb);
  double first;
  nb.Read(&first, 4 + 1 + 1);
  EXPECT_EQ(first, 4.5);
}

TEST(BasePresets, PruneAndModify)
{
  TestPlug plug(1, "2-2", 4);
  plug.ParamAt(0)->InitDouble("G", 0.0, -1.0, 1.0, 0.01);
  plug.MakeDefaultPreset("zero", 1);
  plug.RestorePreset(2);  // "user preset 1"
  plug.PruneUninitializedPresets();
  ASSERT_EQ(plug.PresetCount(), 2);
  EXPECT_STREQ(plug.GetPresetName(0), "zero");
  EXPECT_STREQ(plug.GetPresetName(1), "user preset 1");

  plug.RestorePreset(0);
  plug.ParamAt(0)->SetValue(-0.25);
  plug.ModifyCurrentPreset("changed");
  plug.ParamAt(0)->SetValue(0.0);
  EXPECT_TRUE(plug.RestorePreset(0));
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), -0.25);
  EXPECT_STREQ(plug.GetPresetName(0), "changed");
  plug.ModifyCurrentPreset("");
  EXPECT_STREQ(plug.GetPresetName(0), "changed");
}

TEST(BasePresets, DumpsWriteCallsThatRecreateTheSettings)
{
  TestPlug plug(3, "2-2", 2);
  Declare(plug);
  plug.ParamAt(0)->SetValue(-1.5);
  plug.ParamAt(1)->SetValue(2.0);
  plug.ParamAt(2)->SetValue(1.0);
  const char* ids[] = {"kGain", "kMode", "kOn"};
  std::string src = TempPath("src.txt");
  plug.DumpPresetSrcCode(src.c_str(), ids);
  EXPECT_EQ(ReadFile(src),
            "  MakePresetFromNamedParams(\"name\", 3,\n    kGain, -1.500000,\n    kMode, 2,\n"
            "    kOn, true);\n");

  plug.MakeDefaultPreset("P", 1);
  std::string blob = TempPath("blob.txt");
  plug.DumpPresetBlob(blob.c_str());
  // -1.5, 2.0, 1.0 as little-endian doubles
  EXPECT_EQ(ReadFile(blob),
            "MakePresetFromBlob(\"name\", \"AAAAAAAA+L8AAAAAAAAAQAAAAAAAAPA/\", 24);\n");

  std::string bankPath = TempPath("bank.txt");
  plug.DumpBankBlob(bankPath.c_str());
  EXPECT_EQ(ReadFile(bankPath),
            "MakePresetFromBlob(\"P\", \"AAAAAAAA+L8AAAAAAAAAQAAAAAAAAPA/\", 24);\n"
            "MakePresetFromBlob(\"empty\", \"\", 0);\n");

  // The blob text decodes back to the same preset.
  TestPlug back(3, "2-2", 1);
  Declare(back);
  back.MakePresetFromBlob("P", "AAAAAAAA+L8AAAAAAAAAQAAAAAAAAPA/", 24);
  EXPECT_TRUE(back.RestorePreset(0));
  EXPECT_EQ(back.ParamAt(0)->GetValue(), -1.5);
  EXPECT_EQ(back.ParamAt(1)->GetValue(), 2.0);

  // Unwritable paths write nothing and do not crash.
  plug.DumpBankBlob("/nonexistent-dir/x.txt");
  plug.DumpPresetBlob(nullptr);
  std::remove(src.c_str());
  std::remove(blob.c_str());
  std::remove(bankPath.c_str());
}

TEST(BasePresets, OverlongNamesAreCutToTheirFields)
{
  std::string longName(300, 'x');
  ByteChunk bank;
  bank.AppendString(longName.c_str());
  bank.Append(true);
  bank.Append(0.5);
  TestPlug plug(1, "2-2", 1);
  plug.ParamAt(0)->InitDouble("G", 0.0, -1.0, 1.0, 0.01);
  EXPECT_EQ(plug.UnserializePresets(&bank, 0), 4 + 300 + 1 + 8);
  EXPECT_EQ(std::string(plug.GetPresetName(0)), std::string(255, 'x'));
  EXPECT_EQ(plug.ParamAt(0)->GetValue(), 0.5);

  TestPlug named(0, "2-2", 1);
  named.MakePresetFromChunk(longName.c_str(), &bank);
  EXPECT_EQ(strlen(named.GetPresetName(0)), 255u);
}

// The tail's entries read back as written; an entry that is not what its
// tag says (values that are not numbers, a length that is no whole count
// of them, a slot neither A nor B) is left out, and the rest still read.
TEST(StateTail, EntriesRoundTripAndMalformedOnesAreLeftOut)
{
  IFxStateTail t;
  t.preset = 3;
  t.appended = {2.0, 1.0};
  t.slot = 1;
  t.otherSlot = {0.5, -3.0, 7.0};
  ByteChunk c;
  t.AppendTo(c);
  IFxStateTail r;
  ASSERT_TRUE(r.ReadFrom(c.Data(), c.Size()));
  EXPECT_EQ(3, r.preset);
  EXPECT_EQ(t.appended, r.appended);
  EXPECT_EQ(1, r.slot);
  EXPECT_EQ(t.otherSlot, r.otherSlot);
  EXPECT_EQ(0, IFxStateTail::Find(c.Data(), c.Size()));

  struct Bad
  {
    const char* what;
    size_t at;  // bytes to overwrite, from the tail's start
    std::vector<unsigned char> bytes;
    bool appendedRead, slotRead, otherRead;
  };
  // Layout: header 12, "prst" 12 at 12, "apnd" 8 + 16 at 24, "slot" 12 at
  // 48, "othr" 8 + 24 at 60. A length that is no whole count of values
  // loses what follows it too: the entries after are not where it says.
  const Bad bad[] = {
    {"a NaN among the appended values", 38, {0xF8, 0x7F}, false, true, true},
    {"a slot of 2", 56, {2}, true, false, true},
    {"an appended length of 12", 28, {12}, false, false, false},
  };
  for (const Bad& b : bad)
  {
    SCOPED_TRACE(b.what);
    std::vector<unsigned char> d(c.Data(), c.Data() + c.Size());
    std::copy(b.bytes.begin(), b.bytes.end(), d.begin() + (long)b.at);
    IFxStateTail m;
    ASSERT_TRUE(m.ReadFrom(d.data(), (int64_t)d.size()));
    EXPECT_EQ(3, m.preset);
    EXPECT_EQ(b.appendedRead ? t.appended : std::vector<double>(), m.appended);
    EXPECT_EQ(b.slotRead ? 1 : -1, m.slot);
    EXPECT_EQ(b.otherRead ? t.otherSlot : std::vector<double>(), m.otherSlot);
  }
}
