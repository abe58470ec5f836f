// Host parameters, value conversions, units and the program list, seen
// through IEditController and IUnitInfo.
#include <cmath>
#include <vector>

#include "HostFixture.h"

using namespace vst3host;
using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID kPrst = 0x70727374;
constexpr ParamID kBpas = 0x62706173;

struct Expected
{
  ParamID id;
  const char* title;
  const char* units;
  int32 steps;
  double def;
  int32 flags;
};

// Attack: range 0.0001..0.0101 (the declaration raises the maximum to
// minimum + step), default 0.005, shape 2: sqrt(0.0049 / 0.01) = 0.7.
// Release: range 0.1..0.5, default 0.3, shape 2: sqrt(0.5).
// Units as people read the values; the host's bypass titled apart from the
// plug-in's own Bypass.
const Expected kExpected[kHostParams] = {
  {kPrst, "Preset", "", 11, 0.0, 0x8008},  // a list, one step per factory preset after the first
  {kBpas, "Host Bypass", "", 1, 0.0, 0x10009},
  {0, "Input", "", 0, 0.0, 1},
  {1, "Output", "dB", 0, 0.5, 1},
  {2, "Attack", "ms", 0, 0.7, 1},
  {3, "Release", "ms", 0, 0.70710678118654752, 1},
  {4, "Mix", "%", 0, 1.0, 1},
  {5, "HPF", "Hz", 0, 0.0, 1},
  {6, "Oversample", "", 1, 0.0, 1},
  {7, "Bypass", "", 1, 0.0, 1},
  {8, "Sidechain", "", 1, 1.0, 1},
  {9, "Detector", "", 3, 0.0, 0x9},  // a list: Right, Left, Linked, Mid
  {10, "Listen", "", 1, 0.0, 1},
};

std::string ValueString(IEditController* c, ParamID tag, double v, tresult* r = nullptr)
{
  String128 s = {};
  tresult res = c->getParamStringByValue(tag, v, s);
  if (r)
    *r = res;
  return ToAscii(s);
}

// UTF-8 text (one-, two- and three-byte characters) as the host's UTF-16.
void Utf16(const char* text, String128 out)
{
  int n = 0;
  for (const unsigned char* p = (const unsigned char*)text; *p && n < 127;)
  {
    if (*p >= 0xE0 && p[1] && p[2])
    {
      out[n++] = (TChar)(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
      p += 3;
    }
    else if (*p >= 0xC0 && p[1])
    {
      out[n++] = (TChar)(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
      p += 2;
    }
    else
      out[n++] = (TChar)*p++;
  }
  out[n] = 0;
}

double FromString(IEditController* c, ParamID tag, const char* text, tresult* r = nullptr)
{
  String128 s;
  Utf16(text, s);
  ParamValue v = -1.0;
  tresult res = c->getParamValueByString(tag, s, v);
  if (r)
    *r = res;
  return v;
}

}  // namespace

class ParamsTest : public HostTest {};

TEST_F(ParamsTest, ThirteenHostParametersInOrder)
{
  Plug p;
  ASSERT_TRUE(p.inst);
  ASSERT_EQ(kHostParams, p.ctrl()->getParameterCount());
  for (int i = 0; i < kHostParams; ++i)
  {
    SCOPED_TRACE(i);
    ParameterInfo info;
    memset((void*)&info, 0x5A, sizeof(info));
    ASSERT_EQ(kResultOk, p.ctrl()->getParameterInfo(i, info));
    const Expected& e = kExpected[i];
    EXPECT_EQ(e.id, info.id);
    EXPECT_EQ(e.title, ToAscii(info.title));
    EXPECT_EQ("", ToAscii(info.shortTitle));
    EXPECT_EQ(e.units, ToAscii(info.units));
    EXPECT_EQ(e.steps, info.stepCount);
    EXPECT_NEAR(e.def, info.defaultNormalizedValue, 1e-12);
    EXPECT_EQ(0, info.unitId);
    EXPECT_EQ(e.flags, info.flags);
  }
  ParameterInfo info;
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(kHostParams, info));
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(-1, info));
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(0x7FFFFFFF, info));
}

TEST_F(ParamsTest, NoHostParametersBeforeInitializeNorAfterTerminate)
{
  Plug p(false);
  ASSERT_TRUE(p.inst);
  ParameterInfo info;
  EXPECT_EQ(0, p.ctrl()->getParameterCount());
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(0, info));
  ASSERT_EQ(kResultOk, p.comp()->initialize(&p.app));
  EXPECT_EQ(kHostParams, p.ctrl()->getParameterCount());
  ASSERT_EQ(kResultOk, p.comp()->terminate());
  EXPECT_EQ(0, p.ctrl()->getParameterCount());
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(3, info));
  // Initialising again brings back the same list.
  ASSERT_EQ(kResultOk, p.comp()->initialize(&p.app));
  EXPECT_EQ(kHostParams, p.ctrl()->getParameterCount());
  ASSERT_EQ(kResultOk, p.ctrl()->getParameterInfo(10, info));
  EXPECT_EQ(8u, info.id);
}

TEST_F(ParamsTest, ValueStringsInTheirUnitsReadBackToTheSameValue)
{
  Plug p;
  IEditController* c = p.ctrl();
  // Plain values of the nine parameters in the unit the host is told (ms
  // for the times), the host's bypass and the preset (as normalised
  // values), with the text a host shows for each: the number alone, which
  // hosts write beside the units field (never "5.0 ms ms").
  struct Case
  {
    ParamID tag;
    double value;
    const char* text;
  };
  const Case cases[] = {
    {0, 0.0, "0"},         {0, 120.0, "120"},         {0, 400.0, "400"},
    {1, -20.0, "-20.0"},   {1, -3.0, "-3.0"},         {1, 0.0, "0.0"},       {1, 12.5, "12.5"},
    {2, 0.1, "0.1"},       {2, 5.0, "5.0"},           {2, 10.1, "10.1"},
    {3, 100.0, "100"},     {3, 300.0, "300"},         {3, 500.0, "500"},
    {4, 0.0, "0"},         {4, 70.0, "70"},           {4, 100.0, "100"},
    {5, 20.0, "20"},       {5, 80.0, "80"},           {5, 500.0, "500"},
    {6, 0.0, "Off"},       {6, 1.0, "On"},            {7, 0.0, "Off"},       {7, 1.0, "On"},
    {8, 0.0, "External"},  {8, 1.0, "Internal"},
    {kBpas, 0.0, "Off"},   {kBpas, 1.0, "On"},
    {kPrst, 0.0, "Default"}, {kPrst, 1.0 / 11, "Drum Bus Glue"}, {kPrst, 1.0, "Aggressive Character"},
  };
  for (const Case& k : cases)
  {
    SCOPED_TRACE(k.text);
    const bool own = k.tag == kBpas || k.tag == kPrst;
    const double n = own ? k.value : c->plainParamToNormalized(k.tag, k.value);
    tresult r;
    const std::string text = ValueString(c, k.tag, n, &r);
    EXPECT_EQ(kResultOk, r);
    EXPECT_EQ(k.text, text);
    EXPECT_NEAR(n, FromString(c, k.tag, text.c_str(), &r), 1e-12);
    EXPECT_EQ(kResultOk, r);
  }
  // Between the values a text can show, the text shown reads back to a
  // value that shows the same text.
  for (ParamID tag : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, kBpas, kPrst})
    for (double n : {0.0, 0.013, 0.37, 0.5, 0.77, 0.999, 1.0})
    {
      SCOPED_TRACE(testing::Message() << tag << " at " << n);
      const std::string text = ValueString(c, tag, n);
      tresult r;
      const double back = FromString(c, tag, text.c_str(), &r);
      EXPECT_EQ(kResultOk, r);
      EXPECT_EQ(text, ValueString(c, tag, back));
    }
  // Unknown tags have no display.
  tresult r;
  ValueString(c, 11, 0.0, &r);
  EXPECT_EQ(kResultFalse, r);
  ValueString(c, 0x12345678, 0.0, &r);
  EXPECT_EQ(kResultFalse, r);
}

TEST_F(ParamsTest, ValueByStringReadsTheFormsPeopleType)
{
  Plug p;
  IEditController* c = p.ctrl();
  tresult r;
  // With or without unit and space, in either unit of a time or frequency,
  // units in any case, a minus as '-' or U+2212, a decimal comma; a bare
  // number in the unit shown; beyond the range is its end. Plain values
  // as the host has them (ms for the times).
  struct Typed
  {
    ParamID tag;
    const char* text;
    double plain;
  };
  const Typed typed[] = {
    {2, "5 ms", 5.0},       {2, "5ms", 5.0},         {2, "0.005 s", 5.0},    {2, "5", 5.0},
    {2, " 5.0 MS ", 5.0},   {2, "50 ms", 10.1},      {3, "0.3s", 300.0},     {3, "300", 300.0},
    {1, "-3 dB", -3.0},     {1, "-3db", -3.0},       {1, "-3", -3.0},        {1, "\xE2\x88\x92" "3 dB", -3.0},
    {1, "2,5 dB", 2.5},     {1, "+12.5dB", 12.5},    {1, "45", 20.0},        {1, "-1e1 dB", -10.0},
    {4, "70%", 70.0},       {4, "70 %", 70.0},       {5, "0.08 kHz", 80.0},  {5, "80hz", 80.0},
    {0, "120", 120.0},      {0, "120.5", 120.5},     {6, "on", 1.0},         {6, "OFF", 0.0},
    {6, "1", 1.0},          {7, "On", 1.0},          {8, "external", 0.0},   {8, "Internal", 1.0},
  };
  for (const Typed& t : typed)
  {
    SCOPED_TRACE(t.text);
    const double n = FromString(c, t.tag, t.text, &r);
    EXPECT_EQ(kResultOk, r);
    EXPECT_NEAR(c->plainParamToNormalized(t.tag, t.plain), n, 1e-12);
  }
  // Text that is no value of the parameter is refused, and the host's
  // variable is left alone.
  const Typed refused[] = {
    {1, "dB only", 0}, {0, "letters", 0}, {1, "nan", 0},    {1, "inf", 0},    {1, "", 0},
    {2, "5 dB", 0},    {0, "120 %", 0},   {6, "maybe", 0},  {1, "1.2.3", 0},  {0, "0x10", 0},
    {1, "3 4", 0},     {5, "80 k", 0},    {1, "1e999", 0},  {8, "side", 0},   {1, "-", 0},
  };
  for (const Typed& t : refused)
  {
    SCOPED_TRACE(t.text);
    EXPECT_EQ(-1.0, FromString(c, t.tag, t.text, &r));
    EXPECT_EQ(kResultFalse, r);
  }
  // The host's bypass reads its two words in any case, or 0 and 1.
  EXPECT_DOUBLE_EQ(1.0, FromString(c, kBpas, "on", &r));
  EXPECT_EQ(kResultOk, r);
  EXPECT_DOUBLE_EQ(0.0, FromString(c, kBpas, "OFF"));
  EXPECT_DOUBLE_EQ(1.0, FromString(c, kBpas, "1"));
  FromString(c, kBpas, "0.5", &r);
  EXPECT_EQ(kResultFalse, r);
  FromString(c, 77, "1", &r);
  EXPECT_EQ(kResultFalse, r);
  ParamValue v = 0;
  EXPECT_EQ(kResultFalse, c->getParamValueByString(1, nullptr, v));

  // A preset by its name, in any case.
  EXPECT_DOUBLE_EQ(1.0 / 11, FromString(c, kPrst, " drum bus glue ", &r));
  EXPECT_EQ(kResultOk, r);
  EXPECT_DOUBLE_EQ(1.0, FromString(c, kPrst, "Aggressive Character"));

  // Or its normalised value itself, limited to 0..1.
  struct PresetText
  {
    const char* text;
    tresult result;
    double value;
  };
  const PresetText presets[] = {
    {"0.25", kResultOk, 0.25}, {" 1 ", kResultOk, 1.0},     {"+.5", kResultOk, 0.5},
    {"2", kResultOk, 1.0},     {"-3e2", kResultOk, 0.0},    {"1e-3", kResultOk, 0.001},
    {"nan", kResultFalse, 0},  {"inf", kResultFalse, 0},    {"-inf", kResultFalse, 0},
    {"1e999", kResultFalse, 0}, {"50%", kResultFalse, 0},   {"0x1p-1", kResultFalse, 0},
    {"", kResultFalse, 0},     {"one", kResultFalse, 0},    {"0.5 0.5", kResultFalse, 0},
  };
  for (const PresetText& t : presets)
  {
    SCOPED_TRACE(t.text);
    double got = FromString(c, kPrst, t.text, &r);
    EXPECT_EQ(t.result, r);
    if (t.result == kResultOk)
      EXPECT_DOUBLE_EQ(t.value, got);
    else
      EXPECT_EQ(-1.0, got);  // the host's variable is left alone
  }

  // A String128 filled to the last unit without a terminator is read no
  // further (the sanitizer build catches a read past it).
  const PresetText unterminated[] = {{"prst", kResultOk, 1.0}, {"bpas", kResultFalse, -1.0},
                                     {"Output", kResultOk, 1.0}};
  const ParamID unterminatedTags[] = {kPrst, kBpas, 1};
  for (int i = 0; i < 3; ++i)
  {
    SCOPED_TRACE(unterminated[i].text);
    std::vector<TChar> full(128, (TChar)'1');  // 1.1e127, limited to 1
    ParamValue value = -1.0;
    EXPECT_EQ(unterminated[i].result, c->getParamValueByString(unterminatedTags[i], full.data(), value));
    EXPECT_EQ(unterminated[i].value, value);
  }
  std::vector<TChar> digits(128, (TChar)'0');
  digits[1] = '.';
  digits[2] = '5';
  ParamValue value = -1.0;
  EXPECT_EQ(kResultOk, c->getParamValueByString(kPrst, digits.data(), value));
  EXPECT_DOUBLE_EQ(0.5, value);
}

TEST_F(ParamsTest, PlainAndNormalisedConversions)
{
  Plug p;
  IEditController* c = p.ctrl();
  EXPECT_DOUBLE_EQ(10.0, c->normalizedParamToPlain(1, 0.75));
  // The times in milliseconds, the unit their units field names.
  EXPECT_DOUBLE_EQ(200.0, c->normalizedParamToPlain(3, 0.5));
  EXPECT_DOUBLE_EQ(10.1, c->normalizedParamToPlain(2, 1.0));
  EXPECT_DOUBLE_EQ(0.75, c->plainParamToNormalized(1, 10.0));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(1, 50.0));
  EXPECT_DOUBLE_EQ(0.0, c->plainParamToNormalized(5, 3.0));
  EXPECT_DOUBLE_EQ(0.5, c->plainParamToNormalized(3, 200.0));
  // A time in seconds, as hosts kept plain values before they were in ms
  // (an Ardour session's automation), still reads as that time; below the
  // range in both units it is the range's end.
  EXPECT_DOUBLE_EQ(0.5, c->plainParamToNormalized(3, 0.2));
  EXPECT_DOUBLE_EQ(c->plainParamToNormalized(2, 5.0), c->plainParamToNormalized(2, 0.005));
  EXPECT_DOUBLE_EQ(0.0, c->plainParamToNormalized(2, 0.00005));
  EXPECT_DOUBLE_EQ(0.0, c->plainParamToNormalized(3, 50.0));
  // The bypass list maps to its two states, whatever the host passes.
  EXPECT_EQ(0.0, c->normalizedParamToPlain(kBpas, std::nan("")));
  EXPECT_EQ(1.0, c->normalizedParamToPlain(kBpas, 1.0));
  EXPECT_EQ(1.0, c->normalizedParamToPlain(kBpas, 1e300));
  EXPECT_EQ(0.0, c->normalizedParamToPlain(kBpas, -5.0));
  EXPECT_EQ(-20.0, c->normalizedParamToPlain(1, std::nan("")));  // read as 0
  // Tags without a plug-in parameter pass the value through.
  EXPECT_DOUBLE_EQ(3.25, c->plainParamToNormalized(99, 3.25));
  EXPECT_DOUBLE_EQ(0.25, c->normalizedParamToPlain(99, 0.25));
  // The preset parameter takes a program number: k of the 12 is k / 11.
  EXPECT_DOUBLE_EQ(0.0, c->plainParamToNormalized(kPrst, 0.0));
  EXPECT_DOUBLE_EQ(3.0 / 11.0, c->plainParamToNormalized(kPrst, 3.0));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(kPrst, 11.0));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(kPrst, 40.0));
  EXPECT_DOUBLE_EQ(0.0, c->plainParamToNormalized(kPrst, -1.0));
  EXPECT_EQ(0.0, c->plainParamToNormalized(kPrst, std::nan("")));
  // A program list's parameter: every program number reads back as itself.
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ((double)k, c->normalizedParamToPlain(kPrst, c->plainParamToNormalized(kPrst, k))) << k;
}

TEST_F(ParamsTest, SetAndGetNormalised)
{
  Plug p;
  IEditController* c = p.ctrl();
  EXPECT_DOUBLE_EQ(0.5, c->getParamNormalized(1));
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(8));
  EXPECT_NEAR(0.7, c->getParamNormalized(2), 1e-12);
  EXPECT_EQ(kResultOk, c->setParamNormalized(1, 0.75));
  EXPECT_DOUBLE_EQ(0.75, c->getParamNormalized(1));
  // Stepped parameters round to their step.
  EXPECT_EQ(kResultOk, c->setParamNormalized(6, 0.4));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(6));
  EXPECT_EQ(kResultOk, c->setParamNormalized(6, 0.5));
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(6));
  // Unknown tags are not set this way.
  EXPECT_EQ(kResultFalse, c->setParamNormalized(11, 0.5));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(11));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(0xFFFFFFFF));
}

namespace {

// The plain values of the nine parameters, from the saved state.
std::vector<double> PlainValues(Plug& p)
{
  MemoryStream s;
  EXPECT_EQ(kResultOk, p.ctrl()->getState(&s));
  std::vector<double> v(9);
  if (s.Data().size() >= 72)
    memcpy(v.data(), s.Data().data(), 72);
  return v;
}

}  // namespace

TEST_F(ParamsTest, NormalisedValuesOutsideTheRangeAreLimitedAndNaNIgnored)
{
  // Input, Output, Attack (its maximum raised to minimum + step), Release,
  // Mix, HPF, Oversample, Bypass, Sidechain.
  const std::vector<double> lo = {0.0, -20.0, 0.0001, 0.1, 0.0, 20.0, 0.0, 0.0, 0.0};
  const std::vector<double> hi = {400.0, 20.0, 0.0101, 0.5, 100.0, 500.0, 1.0, 1.0, 1.0};
  for (bool viaProcess : {false, true})
  {
    SCOPED_TRACE(viaProcess ? "parameter changes in process" : "controller");
    Plug p;
    p.Start();
    auto setAll = [&](double v) {
      Block b(false, 1);
      b.data.numSamples = 0;
      for (ParamID tag = 0; tag < 9; ++tag)
      {
        if (viaProcess)
          b.changes.Add(tag, v);
        else
          p.ctrl()->setParamNormalized(tag, v);
      }
      if (viaProcess)
      {
        ASSERT_EQ(kResultOk, b.Run(p.proc()));
      }
    };
    // Squared, a negative Attack or Release would land on the maximum.
    for (double v : {-1.0, -0.5, -1e300, -HUGE_VAL})
    {
      SCOPED_TRACE(v);
      setAll(1.0);
      setAll(v);
      EXPECT_EQ(lo, PlainValues(p));
      for (ParamID tag = 0; tag < 9; ++tag)
        EXPECT_EQ(0.0, p.ctrl()->getParamNormalized(tag)) << "tag " << tag;
    }
    for (double v : {1.5, 1e300, HUGE_VAL})
    {
      SCOPED_TRACE(v);
      setAll(0.0);
      setAll(v);
      EXPECT_EQ(hi, PlainValues(p));
    }
    setAll(std::nan(""));
    EXPECT_EQ(hi, PlainValues(p));
  }
  EXPECT_EQ(kResultFalse, Plug().ctrl()->setParamNormalized(1, std::nan("")));
}

TEST_F(ParamsTest, BypassAndPresetValuesAreHeldByTheController)
{
  Plug p;
  p.Start();
  IEditController* c = p.ctrl();
  auto bypassWord = [&] {
    MemoryStream s;
    EXPECT_EQ(kResultOk, c->getState(&s));
    return s.Data().size() == kStateSize ? s.Data()[72] : -1;
  };
  auto processBypass = [&](double v) {
    Block b(false, 1);
    b.data.numSamples = 0;
    b.changes.Add(kBpas, v);
    ASSERT_EQ(kResultOk, b.Run(p.proc()));
  };

  // Set through the controller: stored and read back as the two states of
  // the switch, while the audio stays as the processor was told.
  EXPECT_EQ(kResultOk, c->setParamNormalized(kBpas, 1.0));
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(kBpas));
  EXPECT_EQ(0, bypassWord());
  EXPECT_EQ(kResultOk, c->setParamNormalized(kBpas, 0.3));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kBpas));
  EXPECT_EQ(kResultOk, c->setParamNormalized(kBpas, 7.0));
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(kBpas));
  EXPECT_EQ(kResultFalse, c->setParamNormalized(kBpas, std::nan("")));
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(kBpas));

  // A bypass change in process moves both.
  processBypass(0.0);
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kBpas));
  processBypass(0.9);
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(kBpas));
  EXPECT_EQ(1, bypassWord());
  EXPECT_EQ(kResultOk, c->setParamNormalized(kBpas, 0.0));
  EXPECT_EQ(1, bypassWord());

  // So does a state restore.
  std::vector<uint8_t> state(76, 0);
  double v[9] = {0.0, 0.0, 0.005, 0.3, 100.0, 20.0, 0.0, 0.0, 1.0};
  memcpy(state.data(), v, 72);
  state[72] = 1;
  MemoryStream on(state);
  ASSERT_EQ(kResultOk, c->setState(&on));
  EXPECT_DOUBLE_EQ(1.0, c->getParamNormalized(kBpas));
  state[72] = 0;
  MemoryStream off(state);
  ASSERT_EQ(kResultOk, p.comp()->setState(&off));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kBpas));

  // The preset value is held as given, limited to 0..1. A program selected
  // through the controller alone is applied (to what the project saves as
  // well), and the host hears that every value changed once its run loop
  // turns (never from inside the call); the program already selected
  // changes nothing, so a host that sets back what it read keeps the
  // user's edits.
  auto restarts = [&] {
    EXPECT_EQ(0, p.handler.RestartsInsideCalls());
    p.app.RunTimers();
    int n = 0;
    for (const Edit& e : p.handler.Edits())
      if (e.kind == Edit::kRestart && e.value == (double)kParamValuesChanged)
        ++n;
    return n;
  };
  auto savedInput = [&] {
    MemoryStream s;
    EXPECT_EQ(kResultOk, c->getState(&s));
    double input = -1.0;
    if (s.Data().size() == kStateSize)
      memcpy(&input, s.Data().data(), sizeof(input));
    return input;
  };
  ASSERT_EQ(kResultOk, c->setParamNormalized(1, 0.9));
  p.handler.Clear();
  EXPECT_EQ(kResultOk, c->setParamNormalized(kPrst, 7.0 / 11));  // Acoustic Guitar
  EXPECT_DOUBLE_EQ(7.0 / 11, c->getParamNormalized(kPrst));
  EXPECT_EQ(1, restarts());
  EXPECT_DOUBLE_EQ(140.0, c->normalizedParamToPlain(0, c->getParamNormalized(0)));
  EXPECT_DOUBLE_EQ(120.0, c->normalizedParamToPlain(5, c->getParamNormalized(5)));
  EXPECT_DOUBLE_EQ(0.575, c->getParamNormalized(1));  // Output +3 dB
  EXPECT_DOUBLE_EQ(140.0, savedInput());
  ASSERT_EQ(kResultOk, c->setParamNormalized(1, 0.9));
  EXPECT_EQ(kResultOk, c->setParamNormalized(kPrst, 7.0 / 11 + 0.01));
  EXPECT_DOUBLE_EQ(0.9, c->getParamNormalized(1));
  EXPECT_EQ(1, restarts());
  EXPECT_EQ(kResultOk, c->setParamNormalized(kPrst, -2.0));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kPrst));
  EXPECT_DOUBLE_EQ(0.5, c->getParamNormalized(1));
  EXPECT_DOUBLE_EQ(0.0, savedInput());
  EXPECT_EQ(2, restarts());
  EXPECT_EQ(kResultFalse, c->setParamNormalized(kPrst, std::nan("")));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kPrst));
  EXPECT_EQ(2, restarts());
}

TEST_F(ParamsTest, RootUnitAndProgramList)
{
  Plug p;
  IUnitInfo* u = nullptr;
  ASSERT_EQ(kResultOk, p.ctrl()->queryInterface(IUnitInfo::iid, (void**)&u));
  EXPECT_EQ(1, u->getUnitCount());
  UnitInfo info;
  ASSERT_EQ(kResultOk, u->getUnitInfo(0, info));
  EXPECT_EQ(0, info.id);
  EXPECT_EQ(-1, info.parentUnitId);
  EXPECT_EQ("Root Unit", ToAscii(info.name));
  // The list of the host's preset menu belongs to the root unit.
  EXPECT_EQ((ProgramListID)kPrst, info.programListId);
  EXPECT_EQ(kResultFalse, u->getUnitInfo(1, info));
  EXPECT_EQ(kResultFalse, u->getUnitInfo(-1, info));

  // One list, and it answers for exactly its programs: the factory
  // presets, the defaults first.
  EXPECT_EQ(1, u->getProgramListCount());
  ProgramListInfo pl;
  ASSERT_EQ(kResultOk, u->getProgramListInfo(0, pl));
  EXPECT_EQ((ProgramListID)kPrst, pl.id);
  const char* const names[] = {"Default",         "Drum Bus Glue", "Drum Room Crush", "Parallel Crush",
                               "Kick & Snare Punch", "Bass Steady", "Lead Vocal",    "Acoustic Guitar",
                               "Piano",           "Mix Bus Glue",  "Gentle Leveller", "Aggressive Character"};
  const int32 count = (int32)(sizeof(names) / sizeof(names[0]));
  EXPECT_EQ(count, pl.programCount);
  EXPECT_EQ("Factory Presets", ToAscii(pl.name));
  EXPECT_EQ(kResultFalse, u->getProgramListInfo(1, pl));

  String128 name;
  for (int32 k = 0; k < count; ++k)
  {
    ASSERT_EQ(kResultOk, u->getProgramName(kPrst, k, name));
    EXPECT_EQ(names[k], ToAscii(name));
  }
  EXPECT_EQ(kResultFalse, u->getProgramName(kPrst, count, name));
  EXPECT_EQ(kResultFalse, u->getProgramName(kPrst, -1, name));
  EXPECT_EQ(kResultFalse, u->getProgramName(kBpas, 0, name));

  String128 attr;
  EXPECT_EQ(kNotImplemented, u->getProgramInfo(kPrst, 0, "name", attr));
  EXPECT_EQ(kNotImplemented, u->hasProgramPitchNames(kPrst, 0));
  EXPECT_EQ(kNotImplemented, u->getProgramPitchName(kPrst, 0, 60, attr));
  EXPECT_EQ(0, u->getSelectedUnit());
  EXPECT_EQ(kNotImplemented, u->selectUnit(1));
  UnitID unit = 5;
  EXPECT_EQ(kNotImplemented, u->getUnitByBus(kAudio, kInput, 0, 0, unit));
  EXPECT_EQ(kNotImplemented, u->setUnitProgramData(kPrst, 0, nullptr));
  u->release();
}

TEST_F(ParamsTest, ControllerCallsWithoutClassIdOrRouting)
{
  Plug p;
  TUID cid;
  EXPECT_EQ(kNotImplemented, p.comp()->getControllerClassId(cid));
  EXPECT_EQ(kNotImplemented, p.comp()->setIoMode(kSimple));
  EXPECT_EQ(kNotImplemented, p.ctrl()->setComponentState(nullptr));
  RoutingInfo a, b;
  EXPECT_EQ(kNotImplemented, p.comp()->getRoutingInfo(a, b));
}
