// Host parameters, value conversions, units and the program list, seen
// through IEditController and IUnitInfo.
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
const Expected kExpected[11] = {
  {kPrst, "Preset", "", 1, 0.0, 0x8000},
  {kBpas, "Bypass", "", 1, 0.0, 0x10009},
  {0, "Input", "%", 0, 0.0, 1},
  {1, "Output", "%", 0, 0.5, 1},
  {2, "Attack", "%", 0, 0.7, 1},
  {3, "Release", "%", 0, 0.70710678118654752, 1},
  {4, "Mix", "%", 0, 1.0, 1},
  {5, "HPF", "%", 0, 0.0, 1},
  {6, "Oversample", "", 1, 0.0, 1},
  {7, "Bypass", "", 1, 0.0, 1},
  {8, "Sidechain", "", 1, 1.0, 1},
};

std::string ValueString(IEditController* c, ParamID tag, double v, tresult* r = nullptr)
{
  String128 s = {};
  tresult res = c->getParamStringByValue(tag, v, s);
  if (r)
    *r = res;
  return ToAscii(s);
}

double FromString(IEditController* c, ParamID tag, const char* text, tresult* r = nullptr)
{
  String128 s;
  ToString128(text, s);
  ParamValue v = -1.0;
  tresult res = c->getParamValueByString(tag, s, v);
  if (r)
    *r = res;
  return v;
}

}  // namespace

class ParamsTest : public HostTest {};

TEST_F(ParamsTest, ElevenHostParametersInOrder)
{
  Plug p;
  ASSERT_TRUE(p.inst);
  ASSERT_EQ(11, p.ctrl()->getParameterCount());
  for (int i = 0; i < 11; ++i)
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
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(11, info));
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
  EXPECT_EQ(11, p.ctrl()->getParameterCount());
  ASSERT_EQ(kResultOk, p.comp()->terminate());
  EXPECT_EQ(0, p.ctrl()->getParameterCount());
  EXPECT_EQ(kResultFalse, p.ctrl()->getParameterInfo(3, info));
  // Initialising again brings back the same list.
  ASSERT_EQ(kResultOk, p.comp()->initialize(&p.app));
  EXPECT_EQ(11, p.ctrl()->getParameterCount());
  ASSERT_EQ(kResultOk, p.ctrl()->getParameterInfo(10, info));
  EXPECT_EQ(8u, info.id);
}

TEST_F(ParamsTest, DisplayStringsUsePrecisionAndPlainValues)
{
  Plug p;
  IEditController* c = p.ctrl();
  tresult r;
  EXPECT_EQ("12.50", ValueString(c, 1, 0.8125, &r));
  EXPECT_EQ(kResultOk, r);
  EXPECT_EQ("-20.00", ValueString(c, 1, 0.0));
  EXPECT_EQ("200.00", ValueString(c, 0, 0.5));
  EXPECT_EQ("0.20", ValueString(c, 3, 0.5));    // 0.1 + 0.4 * 0.5^2
  EXPECT_EQ("0.00", ValueString(c, 2, 0.5));    // 0.0026 at two decimals
  EXPECT_EQ("1", ValueString(c, 6, 1.0));
  EXPECT_EQ("0", ValueString(c, 8, 0.0));
  EXPECT_EQ("260.00", ValueString(c, 5, 0.5));
  // The binding's own tags and unknown tags have no display here.
  ValueString(c, kBpas, 1.0, &r);
  EXPECT_EQ(kResultFalse, r);
  ValueString(c, kPrst, 0.0, &r);
  EXPECT_EQ(kResultFalse, r);
  ValueString(c, 9, 0.0, &r);
  EXPECT_EQ(kResultFalse, r);
}

TEST_F(ParamsTest, ValueByStringReadsTheLeadingNumber)
{
  Plug p;
  IEditController* c = p.ctrl();
  tresult r;
  EXPECT_DOUBLE_EQ(0.8125, FromString(c, 1, "12.5 dB", &r));  // (12.5 + 20) / 40
  EXPECT_EQ(kResultOk, r);
  EXPECT_DOUBLE_EQ(0.5, FromString(c, 1, "dB only", &r));     // no number: plain 0
  EXPECT_EQ(kResultOk, r);
  EXPECT_DOUBLE_EQ(0.0, FromString(c, 0, "letters"));
  EXPECT_DOUBLE_EQ(1.0, FromString(c, 1, "45"));              // clamped to the maximum
  EXPECT_DOUBLE_EQ(0.0, FromString(c, 1, "-45"));
  EXPECT_DOUBLE_EQ(0.5, FromString(c, 3, "0.2"));             // sqrt((0.2 - 0.1) / 0.4)
  EXPECT_DOUBLE_EQ(0.5, FromString(c, 1, "nan"));             // read as no number
  // The bypass list parameter answers with its own strings.
  EXPECT_DOUBLE_EQ(1.0, FromString(c, kBpas, "on", &r));
  EXPECT_EQ(kResultOk, r);
  EXPECT_DOUBLE_EQ(0.0, FromString(c, kBpas, "off"));
  FromString(c, 77, "1", &r);
  EXPECT_EQ(kResultFalse, r);
  ParamValue v = 0;
  EXPECT_EQ(kResultFalse, c->getParamValueByString(1, nullptr, v));
}

TEST_F(ParamsTest, PlainAndNormalisedConversions)
{
  Plug p;
  IEditController* c = p.ctrl();
  EXPECT_DOUBLE_EQ(10.0, c->normalizedParamToPlain(1, 0.75));
  EXPECT_DOUBLE_EQ(0.2, c->normalizedParamToPlain(3, 0.5));
  EXPECT_DOUBLE_EQ(0.75, c->plainParamToNormalized(1, 10.0));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(1, 50.0));
  EXPECT_DOUBLE_EQ(0.0, c->plainParamToNormalized(5, 3.0));
  EXPECT_DOUBLE_EQ(0.5, c->plainParamToNormalized(3, 0.2));
  // Tags without a plug-in parameter pass the value through.
  EXPECT_DOUBLE_EQ(3.25, c->plainParamToNormalized(99, 3.25));
  EXPECT_DOUBLE_EQ(0.25, c->normalizedParamToPlain(99, 0.25));
  EXPECT_DOUBLE_EQ(0.25, c->plainParamToNormalized(kPrst, 0.25));
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
  // The binding's tags and unknown tags are not set this way.
  EXPECT_EQ(kResultFalse, c->setParamNormalized(kBpas, 1.0));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kBpas));
  EXPECT_EQ(kResultFalse, c->setParamNormalized(kPrst, 1.0));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(kPrst));
  EXPECT_EQ(kResultFalse, c->setParamNormalized(9, 0.5));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(9));
  EXPECT_DOUBLE_EQ(0.0, c->getParamNormalized(0xFFFFFFFF));
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
  EXPECT_EQ(-1, info.programListId);
  EXPECT_EQ(kResultFalse, u->getUnitInfo(1, info));
  EXPECT_EQ(kResultFalse, u->getUnitInfo(-1, info));

  EXPECT_EQ(0, u->getProgramListCount());
  ProgramListInfo pl;
  ASSERT_EQ(kResultOk, u->getProgramListInfo(0, pl));
  EXPECT_EQ((ProgramListID)kPrst, pl.id);
  EXPECT_EQ(1, pl.programCount);
  EXPECT_EQ("Factory Presets", ToAscii(pl.name));
  EXPECT_EQ(kResultFalse, u->getProgramListInfo(1, pl));

  String128 name;
  ASSERT_EQ(kResultOk, u->getProgramName(kPrst, 0, name));
  EXPECT_EQ("-", ToAscii(name));
  name[0] = 'x';
  EXPECT_EQ(kResultOk, u->getProgramName(kPrst, 1, name));
  EXPECT_EQ("", ToAscii(name));
  EXPECT_EQ(kResultOk, u->getProgramName(kPrst, -1, name));
  EXPECT_EQ("", ToAscii(name));
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
