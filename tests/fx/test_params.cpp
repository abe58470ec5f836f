#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "fx/IParam.h"

namespace
{
// Display string of a plain value through a roomy buffer.
std::string Show(const IParam& p, double v, bool withTexts = true, bool normalized = false)
{
  char buf[64];
  p.GetDisplayForHost(v, normalized, buf, withTexts);
  return buf;
}
} // namespace

TEST(IParamDeclare, FreshParameterHasTheInitialFields)
{
  IParam p;
  EXPECT_EQ(IParam::kTypeNone, p.GetType());
  EXPECT_EQ(0.0, p.GetValue());
  EXPECT_EQ(0.0, p.GetMin());
  EXPECT_EQ(1.0, p.GetMax());
  EXPECT_EQ(1.0, p.GetStep());
  EXPECT_EQ(1.0, p.GetShape());
  EXPECT_EQ(0, p.GetPrecision());
  EXPECT_STREQ("", p.GetNameForHost());
  EXPECT_STREQ("", p.GetLabelForHost());
  EXPECT_STREQ("", p.GetParamGroupForHost());
  EXPECT_TRUE(p.IsAutomatable());
  EXPECT_FALSE(p.IsDisplayNegated());
  EXPECT_EQ(0, p.GetNDisplayTexts());
}

TEST(IParamDeclare, PrecisionFollowsTheStep)
{
  const struct
  {
    double step;
    int precision;
  } cases[] = {{1.0, 0}, {5.0, 0}, {0.5, 1}, {0.25, 2}, {0.01, 2}, {0.001, 3}, {0.0001, 4},
               {1e-7, 6}, {1.0 / 3.0, 6}};
  for (const auto& c : cases)
  {
    IParam p;
    p.InitDouble("x", 0.0, 0.0, 100.0, c.step);
    EXPECT_EQ(c.precision, p.GetPrecision()) << "step " << c.step;
    EXPECT_EQ(IParam::kTypeDouble, p.GetType());
  }
}

TEST(IParamDeclare, MaximumIsLiftedToMinimumPlusStep)
{
  IParam p;
  p.InitDouble("x", 0.0, 5.0, 5.2, 0.5);
  EXPECT_EQ(5.5, p.GetMax());
  // The compressor's Attack: 0.0001..0.01 with step 0.01 really ends at 0.0101.
  IParam attack;
  attack.InitDouble("Attack", 0.005, 0.0001, 0.01, 0.01, "%");
  attack.SetShape(2.0);
  double lo = -1, hi = -1;
  attack.GetBounds(&lo, &hi);
  EXPECT_EQ(0.0001, lo);
  EXPECT_DOUBLE_EQ(0.0101, hi);
  EXPECT_EQ(2, attack.GetPrecision());
  // The default is stored unchanged, not clamped.
  IParam q;
  q.InitDouble("q", 7.0, 0.0, 1.0, 0.1);
  EXPECT_EQ(7.0, q.GetValue());
  EXPECT_EQ(7.0, q.GetDefaultValue());
}

TEST(IParamDeclare, EnumIntAndBoolRanges)
{
  IParam e3;
  e3.InitEnum("mode", 1, 3);
  EXPECT_EQ(IParam::kTypeEnum, e3.GetType());
  EXPECT_EQ(0.0, e3.GetMin());
  EXPECT_EQ(2.0, e3.GetMax());
  EXPECT_EQ(1.0, e3.GetStep());
  EXPECT_EQ(0, e3.GetPrecision());
  EXPECT_EQ(1.0, e3.GetValue());
  EXPECT_EQ(2, e3.GetStepCount());

  for (int n : {1, 0, -4, INT_MIN})
  {
    IParam e;
    e.InitEnum("one", 0, n);
    EXPECT_EQ(0.0, e.GetMin()) << n;
    EXPECT_EQ(1.0, e.GetMax()) << n;
  }

  IParam i;
  i.InitInt("Oversample", 0, 0, 1);
  EXPECT_EQ(IParam::kTypeInt, i.GetType());
  EXPECT_EQ(1, i.GetStepCount());
  EXPECT_EQ(0, i.GetPrecision());

  IParam b;
  b.InitBool("Power", true, "sw");
  EXPECT_EQ(IParam::kTypeBool, b.GetType());
  EXPECT_EQ(1.0, b.GetValue());
  EXPECT_EQ(0.0, b.GetMin());
  EXPECT_EQ(1.0, b.GetMax());
  ASSERT_EQ(2, b.GetNDisplayTexts());
  int v = -1;
  EXPECT_STREQ("off", b.GetDisplayTextAtIdx(0, &v));
  EXPECT_EQ(0, v);
  EXPECT_STREQ("on", b.GetDisplayTextAtIdx(1, &v));
  EXPECT_EQ(1, v);
  EXPECT_EQ("on", Show(b, b.GetValue(), true));
  EXPECT_EQ("1", Show(b, b.GetValue(), false));
  EXPECT_STREQ("", b.GetLabelForHost());

  IParam bf;
  bf.InitBool("Power", false);
  EXPECT_EQ(0.0, bf.GetValue());
  EXPECT_EQ("off", Show(bf, bf.GetValue()));

  IParam d;
  d.InitDouble("Mix", 100.0, 0.0, 100.0, 0.01, "%");
  EXPECT_EQ(0, d.GetStepCount());
}

TEST(IParamDeclare, TheFirstDeclarationFixesTheType)
{
  IParam p;
  p.InitDouble("x", 0.0, 0.0, 4.0, 0.5);
  p.InitInt("x", 2, 0, 4);
  EXPECT_EQ(IParam::kTypeDouble, p.GetType());
  EXPECT_EQ(1.0, p.GetStep()); // the second declaration still sets the fields
  EXPECT_EQ(2.0, p.GetValue());
}

TEST(IParamDeclare, ShapeZeroIsIgnored)
{
  IParam p;
  p.InitDouble("x", 0.0, 0.0, 1.0, 0.01, "", "", 0.0);
  EXPECT_EQ(1.0, p.GetShape());
  p.SetShape(3.0);
  EXPECT_EQ(3.0, p.GetShape());
  p.SetShape(0.0);
  EXPECT_EQ(3.0, p.GetShape());
}

TEST(IParamDeclare, OverlongTextsAreCutToThirtyOneCharacters)
{
  const char* longText = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEF"; // 42 characters
  IParam p;
  p.InitInt(longText, 0, 0, 3, longText, longText);
  p.SetDisplayText(2, longText);
  EXPECT_EQ(31u, strlen(p.GetNameForHost()));
  EXPECT_EQ(0, strncmp(longText, p.GetNameForHost(), 31));
  EXPECT_EQ(31u, strlen(p.GetLabelForHost()));
  EXPECT_EQ(31u, strlen(p.GetParamGroupForHost()));
  EXPECT_EQ(31u, strlen(p.GetDisplayText(2)));
  EXPECT_STREQ("abcdefghijklmnopqrstuvwxyz01234", p.GetDisplayText(2));

  IParam n;
  n.InitDouble(nullptr, 0.0, 0.0, 1.0, 0.1, nullptr, nullptr);
  EXPECT_STREQ("", n.GetNameForHost());
  EXPECT_STREQ("", n.GetLabelForHost());
}

TEST(IParamMapping, IntRoundsHalvesUpFromZero)
{
  IParam p;
  p.InitInt("n", 0, 0, 10);
  p.SetNormalized(0.34);
  EXPECT_EQ(3.0, p.GetValue()); // 3.4
  p.SetNormalized(0.35);
  EXPECT_EQ(4.0, p.GetValue()); // 3.5 rounds up
  p.SetNormalized(0.96);
  EXPECT_EQ(10.0, p.GetValue());
  EXPECT_DOUBLE_EQ(1.0, p.GetNormalized());

  IParam s;
  s.InitInt("s", 0, -10, 10);
  s.SetNormalized(0.225); // -5.5: halves go toward +infinity
  EXPECT_EQ(-5.0, s.GetValue());
  s.SetNormalized(0.2); // -6
  EXPECT_EQ(-6.0, s.GetValue());
  EXPECT_DOUBLE_EQ(0.2, s.GetNormalized());

  // Normalised values outside 0..1 are limited to it at both ends.
  p.SetNormalized(-0.1);
  EXPECT_EQ(0.0, p.GetValue());
  p.SetNormalized(1.7);
  EXPECT_EQ(10.0, p.GetValue());

  // Plain values (from hosts that send them) round and are limited the
  // same way; NaN changes nothing.
  p.SetPlain(3.5);
  EXPECT_EQ(4.0, p.GetValue());
  p.SetPlain(std::nan(""));
  EXPECT_EQ(4.0, p.GetValue());
  p.SetPlain(-HUGE_VAL);
  EXPECT_EQ(0.0, p.GetValue());
  p.SetPlain(10.4);
  EXPECT_EQ(10.0, p.GetValue());
  s.SetPlain(-5.5);
  EXPECT_EQ(-5.0, s.GetValue());

  IParam b;
  b.InitBool("b", false);
  b.SetNormalized(0.49);
  EXPECT_EQ(0.0, b.GetValue());
  b.SetNormalized(0.5);
  EXPECT_EQ(1.0, b.GetValue());
}

TEST(IParamMapping, DoubleWithShapeTwo)
{
  IParam r;
  r.InitDouble("Release", 0.3, 0.1, 0.5, 0.01, "%");
  r.SetShape(2.0);
  r.SetNormalized(0.5);
  EXPECT_DOUBLE_EQ(0.2, r.GetValue()); // 0.1 + 0.4 * 0.25
  EXPECT_DOUBLE_EQ(0.5, r.GetNormalized());
  EXPECT_EQ("0.20", Show(r, r.GetValue()));
  // Not rounded to the step.
  r.SetNormalized(0.3);
  EXPECT_DOUBLE_EQ(0.136, r.GetValue());
  r.SetNormalized(1.5);
  EXPECT_EQ(0.5, r.GetValue());
  // Squared, -1 would land on the maximum and -0.5 on 0.2.
  r.SetNormalized(-1.0);
  EXPECT_EQ(0.1, r.GetValue());
  r.SetNormalized(-0.5);
  EXPECT_EQ(0.1, r.GetValue());
  r.SetNormalized(-HUGE_VAL);
  EXPECT_EQ(0.1, r.GetValue());
  r.SetNormalized(HUGE_VAL);
  EXPECT_EQ(0.5, r.GetValue());
  // The default in normalised form: sqrt((0.3 - 0.1) / 0.4).
  EXPECT_DOUBLE_EQ(std::sqrt(0.5), r.GetDefaultNormalized());
  EXPECT_NEAR(0.707106781, r.GetDefaultNormalized(), 1e-9);

  IParam a;
  a.InitDouble("Attack", 0.005, 0.0001, 0.01, 0.01, "%");
  a.SetShape(2.0);
  EXPECT_NEAR(0.7, a.GetDefaultNormalized(), 1e-12); // sqrt(0.0049 / 0.01)
  a.SetNormalized(1.0);
  EXPECT_DOUBLE_EQ(0.0101, a.GetValue());
}

TEST(IParamMapping, PlainToNormalisedClampsButNonNormalisedDoesNot)
{
  IParam o;
  o.InitDouble("Output", 0.0, -20.0, 20.0, 0.01, "%");
  EXPECT_EQ(0.0, o.GetNormalized(-35.0));
  EXPECT_EQ(1.0, o.GetNormalized(35.0));
  EXPECT_DOUBLE_EQ(0.75, o.GetNormalized(10.0));
  EXPECT_DOUBLE_EQ(0.5, o.GetNormalized());
  EXPECT_EQ(60.0, o.GetNonNormalized(2.0));
  EXPECT_EQ(-60.0, o.GetNonNormalized(-1.0));
  EXPECT_DOUBLE_EQ(6.0, o.GetNonNormalized(0.65));
  // Reading does not move the value.
  EXPECT_EQ(0.0, o.GetValue());
}

TEST(IParamMapping, SetValueClampsBothEnds)
{
  IParam h;
  h.InitDouble("HPF", 20.0, 20.0, 500.0, 0.01, "%");
  h.SetValue(5.0);
  EXPECT_EQ(20.0, h.GetValue());
  h.SetValue(900.0);
  EXPECT_EQ(500.0, h.GetValue());
  h.SetValue(123.456);
  EXPECT_EQ(123.456, h.GetValue());
}

TEST(IParamMapping, NaNFromTheHostKeepsTheLastValue)
{
  IParam h;
  h.InitDouble("HPF", 20.0, 20.0, 500.0, 0.01);
  h.SetNormalized(0.5);
  EXPECT_EQ(260.0, h.GetValue());
  h.SetNormalized(std::nan(""));
  EXPECT_EQ(260.0, h.GetValue());
  h.SetValue(std::nan(""));
  EXPECT_EQ(260.0, h.GetValue());
}

TEST(IParamMapping, DecibelsToGain)
{
  IParam o;
  o.InitDouble("Output", 0.0, -20.0, 20.0, 0.01, "%");
  EXPECT_EQ(1.0, o.DBToAmp());
  o.SetValue(20.0);
  EXPECT_NEAR(10.0, o.DBToAmp(), 1e-11);
  o.SetValue(-20.0);
  EXPECT_NEAR(0.1, o.DBToAmp(), 1e-12);
  o.SetValue(6.0);
  EXPECT_NEAR(1.9952623149688795, o.DBToAmp(), 1e-12);
}

TEST(IParamDisplay, NumbersByPrecisionAndNegation)
{
  IParam i;
  i.InitInt("i", 0, -10, 10);
  EXPECT_EQ("-3", Show(i, -3.7));
  EXPECT_EQ("3", Show(i, 3.9));

  IParam d;
  d.InitDouble("d", 0.0, -10.0, 10.0, 0.5);
  d.SetDisplayNegated(true);
  EXPECT_TRUE(d.IsDisplayNegated());
  EXPECT_EQ("-2.5", Show(d, 2.5));
  EXPECT_EQ("3.0", Show(d, -3.0));

  // Normalised input is mapped without rounding or clamping.
  IParam o;
  o.InitDouble("Output", 0.0, -20.0, 20.0, 0.01, "%");
  EXPECT_EQ("10.00", Show(o, 0.75, true, true));
  EXPECT_EQ("60.00", Show(o, 2.0, true, true));
  IParam a;
  a.InitDouble("Attack", 0.005, 0.0001, 0.01, 0.01, "%");
  a.SetShape(2.0);
  EXPECT_EQ("0.01", Show(a, 0.75, true, true)); // 0.0056688
  EXPECT_EQ("0.00", Show(a, 0.5, true, true));  // 0.002575
  EXPECT_EQ("0.01", Show(a, a.GetValue()));     // 0.005
  IParam in;
  in.InitDouble("Input", 0.0, 0.0, 400.0, 0.01, "%");
  EXPECT_EQ("123.46", Show(in, 123.456));
  EXPECT_STREQ("%", in.GetLabelForHost());
}

TEST(IParamDisplay, TextsReplaceNumbersForTruncatedValues)
{
  IParam p;
  p.InitDouble("mode", 0.0, -3.0, 3.0, 0.1, "dB");
  p.SetDisplayText(2, "max");
  p.SetDisplayText(1, "");
  p.SetDisplayText(2, "second"); // never replaces the first
  p.SetDisplayText(0, "zero");
  EXPECT_EQ(4, p.GetNDisplayTexts());

  EXPECT_EQ("max", Show(p, 2.9));
  EXPECT_EQ("2.9", Show(p, 2.9, false));
  EXPECT_EQ("zero", Show(p, -0.5)); // truncated toward zero
  EXPECT_EQ("1.0", Show(p, 1.0));   // empty text: the number
  EXPECT_EQ("-1.0", Show(p, -1.0));
  EXPECT_EQ("max", Show(p, 0.9, true, true)); // plain 2.4
  EXPECT_STREQ("max", p.GetDisplayText(2));
  EXPECT_STREQ("", p.GetDisplayText(7));

  // The label disappears only while the value has a non-empty text.
  p.SetValue(2.5);
  EXPECT_STREQ("", p.GetLabelForHost());
  p.SetValue(1.0);
  EXPECT_STREQ("dB", p.GetLabelForHost());
  p.SetValue(-2.0);
  EXPECT_STREQ("dB", p.GetLabelForHost());
}

TEST(IParamDisplay, MapDisplayTextIsExact)
{
  IParam b;
  b.InitBool("Bypass", false);
  int v = 42;
  EXPECT_FALSE(b.MapDisplayText("On", &v));
  EXPECT_EQ(42, v);
  EXPECT_FALSE(b.MapDisplayText("on ", &v));
  EXPECT_FALSE(b.MapDisplayText(nullptr, &v));
  EXPECT_EQ(42, v);
  EXPECT_TRUE(b.MapDisplayText("on", &v));
  EXPECT_EQ(1, v);
  EXPECT_TRUE(b.MapDisplayText("off", &v));
  EXPECT_EQ(0, v);

  // An index out of range reads as "" and leaves the out value alone.
  v = 42;
  EXPECT_STREQ("", b.GetDisplayTextAtIdx(2, &v));
  EXPECT_STREQ("", b.GetDisplayTextAtIdx(-1, &v));
  EXPECT_EQ(42, v);
}

TEST(IParamDisplay, OutputNeverPassesTheCallersCapacity)
{
  IParam in;
  in.InitDouble("Input", 0.0, 0.0, 400.0, 0.01);
  // 1e300 with two decimals is 304 characters.
  char buf[48];
  memset(buf, 'Z', sizeof(buf));
  in.GetDisplayForHost(1e300, false, buf, 32, false);
  EXPECT_EQ(31u, strlen(buf));
  EXPECT_STREQ("1000000000000000052504760255204", buf);
  for (int i = 32; i < 48; ++i) EXPECT_EQ('Z', buf[i]) << i;

  // The array form takes the capacity from the array.
  char small[6];
  in.GetDisplayForHost(123.456, false, small, false);
  EXPECT_STREQ("123.4", small);

  // A display text is cut the same way.
  IParam b;
  b.InitBool("b", true);
  char two[2];
  b.GetDisplayForHost(1.0, false, two, true);
  EXPECT_STREQ("o", two);

  // Capacity 0 writes nothing.
  char none = 'Q';
  in.GetDisplayForHost(5.0, false, &none, 0, false);
  EXPECT_EQ('Q', none);

  // Precision 0 far beyond int: the truncated number, no undefined cast.
  IParam i;
  i.InitInt("i", 0, 0, 10);
  char big[400];
  i.GetDisplayForHost(-1e300, false, big, false);
  EXPECT_EQ(302u, strlen(big));
  EXPECT_EQ(0, strncmp("-10000000000000000525", big, 21));
  i.GetDisplayForHost(3e9, false, big, false);
  EXPECT_STREQ("3000000000", big);
  i.GetDisplayForHost(-2147483648.9, false, big, false);
  EXPECT_STREQ("-2147483648", big);
  // A huge value has no display text even if its wrapped integer would.
  IParam t;
  t.InitInt("t", 0, 0, 3);
  t.SetDisplayText(0, "zero");
  t.GetDisplayForHost(1e20, false, big, true);
  EXPECT_STREQ("100000000000000000000", big);
}

TEST(IParamConcurrency, ReaderSeesOnlyWrittenValues)
{
  IParam p;
  p.InitDouble("Mix", 100.0, 0.0, 100.0, 0.01);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop)
    {
      double v = p.GetValue();
      if (v != 100.0 && v != 25.0 && v != 75.0) ++bad;
    }
  });
  for (int i = 0; i < 200000; ++i) p.SetNormalized((i & 1) ? 0.25 : 0.75);
  stop = true;
  reader.join();
  EXPECT_EQ(0, bad.load());
}
