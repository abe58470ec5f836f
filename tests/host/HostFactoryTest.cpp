// The module's exports, the factory and class records, instance creation
// and the interfaces an instance answers.
#include <cstdio>
#include <set>
#include <string>

#include "HostFixture.h"
#include "vst3/IFxVST3Meters.h"

using namespace vst3host;
using namespace Steinberg;

namespace {

// Bytes after the text of a fixed-width field must all be zero.
void ExpectText(const char* field, size_t size, const char* expected)
{
  size_t len = strlen(expected);
  ASSERT_LT(len, size);
  EXPECT_EQ(0, memcmp(field, expected, len + 1)) << "field holds '" << std::string(field, strnlen(field, size)) << "'";
  for (size_t i = len; i < size; ++i)
    ASSERT_EQ(0, field[i]) << "byte " << i << " after '" << expected << "' is not zero";
}

void ExpectWide(const char16* field, size_t units, const char* expected)
{
  size_t len = strlen(expected);
  for (size_t i = 0; i < len; ++i)
    ASSERT_EQ((char16)expected[i], field[i]) << "unit " << i;
  for (size_t i = len; i < units; ++i)
    ASSERT_EQ(0, field[i]) << "unit " << i;
}

using Proc = bool (*)(void*);
using ExitProc = bool (*)();

}  // namespace

class FactoryTest : public HostTest {};

TEST_F(FactoryTest, ExportsExactlyTheThreeEntryPoints)
{
  std::string cmd = "nm -D --defined-only '" + SharedModule().SoPath() + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(nullptr, p);
  std::set<std::string> names;
  char line[1024];
  while (fgets(line, sizeof(line), p))
  {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
      s.pop_back();
    size_t sp = s.find_last_of(' ');
    names.insert(sp == std::string::npos ? s : s.substr(sp + 1));
  }
  ASSERT_EQ(0, pclose(p));
  EXPECT_EQ((std::set<std::string>{"GetPluginFactory", "ModuleEntry", "ModuleExit"}), names);
  EXPECT_NE(nullptr, SharedModule().Symbol("GetPluginFactory"));
  EXPECT_EQ(nullptr, SharedModule().Symbol("MakePlug"));
  EXPECT_EQ(nullptr, SharedModule().Symbol("bundleEntry"));
}

TEST_F(FactoryTest, FactoryRecordByteForByte)
{
  PFactoryInfo info;
  memset((void*)&info, 0x5A, sizeof(info));
  ASSERT_EQ(kResultOk, SharedModule().Factory()->getFactoryInfo(&info));
  ExpectText(info.vendor, sizeof(info.vendor), "Quillmarshworks");
  ExpectText(info.url, sizeof(info.url), "https://quillmarshworks.example");
  ExpectText(info.email, sizeof(info.email), "support@quillmarshworks.example");
  EXPECT_EQ(16, info.flags);
  EXPECT_NE(kResultOk, SharedModule().Factory()->getFactoryInfo(nullptr));
}

TEST_F(FactoryTest, OneClassWithTheFixedIdAndRecords)
{
  IPluginFactory* f = SharedModule().Factory();
  ASSERT_EQ(1, f->countClasses());

  PClassInfo ci;
  memset((void*)&ci, 0x5A, sizeof(ci));
  ASSERT_EQ(kResultOk, f->getClassInfo(0, &ci));
  EXPECT_EQ(0, memcmp(ci.cid, kTavloCid, 16));
  EXPECT_EQ(0x7FFFFFFF, ci.cardinality);
  ExpectText(ci.category, sizeof(ci.category), "Audio Module Class");
  ExpectText(ci.name, sizeof(ci.name), "Tavlo");
  EXPECT_NE(kResultOk, f->getClassInfo(1, &ci));
  EXPECT_NE(kResultOk, f->getClassInfo(-1, &ci));

  IPluginFactory2* f2 = nullptr;
  ASSERT_EQ(kResultOk, f->queryInterface(IPluginFactory2::iid, (void**)&f2));
  PClassInfo2 c2;
  memset((void*)&c2, 0x5A, sizeof(c2));
  ASSERT_EQ(kResultOk, f2->getClassInfo2(0, &c2));
  EXPECT_EQ(0, memcmp(c2.cid, kTavloCid, 16));
  EXPECT_EQ(0x7FFFFFFF, c2.cardinality);
  ExpectText(c2.category, sizeof(c2.category), "Audio Module Class");
  ExpectText(c2.name, sizeof(c2.name), "Tavlo");
  EXPECT_EQ(2u, c2.classFlags);
  ExpectText(c2.subCategories, sizeof(c2.subCategories), "Fx|Dynamics");
  ExpectText(c2.vendor, sizeof(c2.vendor), "");
  ExpectText(c2.version, sizeof(c2.version), "3.3.0");
  ExpectText(c2.sdkVersion, sizeof(c2.sdkVersion), "VST 3.6.12");
  EXPECT_NE(kResultOk, f2->getClassInfo2(1, &c2));
  f2->release();

  IPluginFactory3* f3 = nullptr;
  ASSERT_EQ(kResultOk, f->queryInterface(IPluginFactory3::iid, (void**)&f3));
  PClassInfoW cw;
  memset((void*)&cw, 0x5A, sizeof(cw));
  ASSERT_EQ(kResultOk, f3->getClassInfoUnicode(0, &cw));
  EXPECT_EQ(0, memcmp(cw.cid, kTavloCid, 16));
  ExpectText(cw.category, sizeof(cw.category), "Audio Module Class");
  ExpectWide(cw.name, PClassInfo::kNameSize, "Tavlo");
  EXPECT_EQ(2u, cw.classFlags);
  ExpectText(cw.subCategories, sizeof(cw.subCategories), "Fx|Dynamics");
  ExpectWide(cw.vendor, PClassInfoW::kVendorSize, "");
  ExpectWide(cw.version, PClassInfoW::kVersionSize, "3.3.0");
  ExpectWide(cw.sdkVersion, PClassInfoW::kVersionSize, "VST 3.6.12");
  f3->release();
}

TEST_F(FactoryTest, RepeatedGetPluginFactoryAddsOneReference)
{
  auto get = (GetFactoryProc)SharedModule().Symbol("GetPluginFactory");
  ASSERT_NE(nullptr, get);
  IPluginFactory* a = get();
  IPluginFactory* b = get();
  EXPECT_EQ(SharedModule().Factory(), a);
  EXPECT_EQ(a, b);
  // Held by the module object, a and b: releasing b leaves 2.
  EXPECT_EQ(2u, b->release());
  EXPECT_EQ(1u, a->release());
}

TEST_F(FactoryTest, CreateInstanceForComponentProcessorAndRefusals)
{
  IPluginFactory* f = SharedModule().Factory();
  Vst::IComponent* comp = nullptr;
  ASSERT_EQ(kResultOk, f->createInstance((FIDString)kTavloCid, Vst::IComponent::iid, (void**)&comp));
  ASSERT_NE(nullptr, comp);
  // The creation reference went away: ours is the only one.
  EXPECT_EQ(2u, comp->addRef());
  EXPECT_EQ(1u, comp->release());
  EXPECT_EQ(0u, comp->release());

  Vst::IAudioProcessor* proc = nullptr;
  ASSERT_EQ(kResultOk, f->createInstance((FIDString)kTavloCid, Vst::IAudioProcessor::iid, (void**)&proc));
  ASSERT_NE(nullptr, proc);
  EXPECT_EQ(kResultOk, proc->canProcessSampleSize(Vst::kSample64));
  proc->release();

  unsigned char otherCid[16];
  memcpy(otherCid, kTavloCid, 16);
  otherCid[15] ^= 1;
  void* obj = (void*)0x1;
  EXPECT_EQ(kNoInterface, f->createInstance((FIDString)otherCid, Vst::IComponent::iid, &obj));
  EXPECT_EQ(nullptr, obj);

  // An interface the object does not have: refused and the object destroyed.
  obj = (void*)0x1;
  EXPECT_EQ(kNoInterface, f->createInstance((FIDString)kTavloCid, Vst::IConnectionPoint::iid, &obj));
  EXPECT_EQ(nullptr, obj);
  obj = (void*)0x1;
  EXPECT_EQ(kNoInterface, f->createInstance((FIDString)kTavloCid, IPluginFactory::iid, &obj));
  EXPECT_EQ(nullptr, obj);
  EXPECT_NE(kResultOk, f->createInstance((FIDString)kTavloCid, Vst::IComponent::iid, nullptr));
  EXPECT_EQ(kNoInterface, f->createInstance(nullptr, Vst::IComponent::iid, &obj));
}

TEST_F(FactoryTest, InstanceAnswersItsInterfacesAsOneObject)
{
  Instance inst(SharedModule().Factory(), TavloCid());
  ASSERT_TRUE(inst);
  FUnknown* identity = nullptr;
  ASSERT_EQ(kResultOk, inst.component->queryInterface(FUnknown::iid, (void**)&identity));

  const FUID* answered[] = {&Vst::IComponent::iid, &Vst::IAudioProcessor::iid, &Vst::IUnitInfo::iid,
                            &Vst::IEditController::iid, &Vst::IEditController2::iid,
                            &Vst::IProcessContextRequirements::iid, &IPluginBase::iid, &FUnknown::iid,
                            &IFxVST3Meters::iid};
  for (const FUID* iid : answered)
  {
    FUnknown* itf = nullptr;
    ASSERT_EQ(kResultOk, inst.component->queryInterface(*iid, (void**)&itf));
    ASSERT_NE(nullptr, itf);
    // Every interface leads back to the same object.
    FUnknown* back = nullptr;
    ASSERT_EQ(kResultOk, itf->queryInterface(FUnknown::iid, (void**)&back));
    EXPECT_EQ(identity, back);
    back->release();
    itf->release();
  }

  // The transport is of no use to the compressor: the host may leave the
  // process context empty.
  Vst::IProcessContextRequirements* req = nullptr;
  ASSERT_EQ(kResultOk, inst.processor->queryInterface(Vst::IProcessContextRequirements::iid, (void**)&req));
  EXPECT_EQ(0u, req->getProcessContextRequirements());
  req->release();

  // The renderer's meter reading: the needle and its dB, nothing past them.
  IFxVST3Meters* meters = nullptr;
  ASSERT_EQ(kResultOk, inst.component->queryInterface(IFxVST3Meters::iid, (void**)&meters));
  EXPECT_EQ(2, meters->getMeterCount());
  double value = 7.0;
  EXPECT_EQ(kResultOk, meters->getMeterValue(1, &value));
  EXPECT_EQ(0.0, value);  // a new instance: no gain reduction, 0 dB
  value = 7.0;
  EXPECT_EQ(kInvalidArgument, meters->getMeterValue(2, &value));
  EXPECT_EQ(kInvalidArgument, meters->getMeterValue(-1, &value));
  EXPECT_EQ(7.0, value);
  EXPECT_EQ(kInvalidArgument, meters->getMeterValue(0, nullptr));
  meters->release();

  void* obj = (void*)0x1;
  EXPECT_EQ(kNoInterface, inst.component->queryInterface(Vst::IConnectionPoint::iid, &obj));
  EXPECT_EQ(nullptr, obj);
  obj = (void*)0x1;
  EXPECT_EQ(kNoInterface, inst.controller->queryInterface(Vst::IMidiMapping::iid, &obj));
  EXPECT_EQ(nullptr, obj);
  obj = (void*)0x1;
  EXPECT_EQ(kNoInterface, inst.controller->queryInterface(IPluginFactory::iid, &obj));
  EXPECT_EQ(nullptr, obj);
  identity->release();
}

TEST_F(FactoryTest, ModuleEntryAndExitNestAndBalance)
{
  auto entry = (Proc)SharedModule().Symbol("ModuleEntry");
  auto exitProc = (ExitProc)SharedModule().Symbol("ModuleExit");
  ASSERT_TRUE(entry && exitProc);
  // The shared module has entered once already.
  EXPECT_TRUE(entry(SharedModule().Handle()));
  EXPECT_TRUE(exitProc());
  EXPECT_TRUE(exitProc());    // back to zero: the plug-in's exit hook runs
  EXPECT_FALSE(exitProc());   // one exit too many is refused
  EXPECT_TRUE(entry(SharedModule().Handle()));  // balance restored for the module object
  // The module still works after a full exit and re-entry.
  Instance inst(SharedModule().Factory(), TavloCid());
  EXPECT_TRUE(inst);
}
