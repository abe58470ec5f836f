#include "vst3/IFxVST3Factory.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "graphics/IGraphics.h"
#include "vst3/IFxVST3.h"

using namespace Steinberg;

namespace {

class IFxPluginFactory;

// Guards the module's factory pointer against a concurrent last release.
std::mutex gFactoryMutex;
IFxPluginFactory* gPluginFactory = nullptr;

PFactoryInfo gFactoryInfo;
PClassInfo2 gClassInfo;
std::once_flag gFactoryInfoOnce, gClassInfoOnce;

void CopyText(char8* dest, const char* src, size_t size)
{
  memset(dest, 0, size);
  if (src)
    strncpy(dest, src, size - 1);
}

void WriteWordBE(unsigned char* dest, unsigned word)
{
  dest[0] = (unsigned char)(word >> 24);
  dest[1] = (unsigned char)(word >> 16);
  dest[2] = (unsigned char)(word >> 8);
  dest[3] = (unsigned char)word;
}

void FillFactoryInfo()
{
  const IFxVST3ClassDef& def = GetVST3ClassDef();
  CopyText(gFactoryInfo.vendor, def.vendor, sizeof(gFactoryInfo.vendor));
  CopyText(gFactoryInfo.url, def.url, sizeof(gFactoryInfo.url));
  CopyText(gFactoryInfo.email, def.email, sizeof(gFactoryInfo.email));
  gFactoryInfo.flags = PFactoryInfo::kUnicode;
}

void FillClassInfo()
{
  const IFxVST3ClassDef& def = GetVST3ClassDef();
  memset((void*)&gClassInfo, 0, sizeof(gClassInfo));
  auto* cid = reinterpret_cast<unsigned char*>(gClassInfo.cid);
  WriteWordBE(cid, GUID_DATA1);
  WriteWordBE(cid + 4, GUID_DATA2);
  WriteWordBE(cid + 8, (unsigned)def.mfrID);
  WriteWordBE(cid + 12, (unsigned)def.uniqueID);
  gClassInfo.cardinality = PClassInfo::kManyInstances;
  CopyText(gClassInfo.category, kVstAudioEffectClass, sizeof(gClassInfo.category));
  CopyText(gClassInfo.name, def.name, sizeof(gClassInfo.name));
  gClassInfo.classFlags = Vst::kSimpleModeSupported;
  CopyText(gClassInfo.subCategories, def.subCategories, sizeof(gClassInfo.subCategories));
  char version[32];
  snprintf(version, sizeof(version), "%d.%d.%d", (def.vendorVersion >> 16) & 0xFFFF,
           (def.vendorVersion >> 8) & 0xFF, def.vendorVersion & 0xFF);
  CopyText(gClassInfo.version, version, sizeof(gClassInfo.version));
  CopyText(gClassInfo.sdkVersion, "VST 3.6.12", sizeof(gClassInfo.sdkVersion));
}

void WidenText(char16* dest, const char8* src, size_t units)
{
  size_t i = 0;
  for (; src && src[i] && i < units - 1; ++i)
    dest[i] = (char16)(unsigned char)src[i];
  for (; i < units; ++i)
    dest[i] = 0;
}

FUnknown* createInstance(void*)
{
  IFxBase* plug = MakePlug();
  if (!plug)
    return nullptr;
  // The instance starts with one reference, which the host gets.
  IFxVST3* binding = new IFxVST3(plug, MakeEditor);
  return static_cast<Vst::IAudioProcessor*>(binding);
}

class IFxPluginFactory : public IPluginFactory3
{
public:
  using CreateFunc = FUnknown* (*)(void*);

  explicit IFxPluginFactory(const PFactoryInfo& info) : mInfo(info) {}
  virtual ~IFxPluginFactory() {}

  void RegisterClass(const PClassInfo2& info, CreateFunc create, void* context)
  {
    mClass = info;
    mCreate = create;
    mContext = context;
    mHasClass = true;
  }

  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (!obj)
      return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, IPluginFactory::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory2::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory3::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid))
    {
      addRef();
      *obj = static_cast<IPluginFactory3*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }

  uint32 PLUGIN_API addRef() override { return ++mRefs; }

  uint32 PLUGIN_API release() override
  {
    std::unique_lock<std::mutex> lock(gFactoryMutex);
    const uint32 left = --mRefs;
    if (left == 0)
    {
      if (gPluginFactory == this)
        gPluginFactory = nullptr;
      lock.unlock();
      delete this;
    }
    return left;
  }

  tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override
  {
    if (!info)
      return kInvalidArgument;
    memcpy((void*)info, (const void*)&mInfo, sizeof(PFactoryInfo));
    return kResultOk;
  }

  int32 PLUGIN_API countClasses() override { return mHasClass ? 1 : 0; }

  tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
  {
    if (!info || index != 0 || !mHasClass)
      return kInvalidArgument;
    memset((void*)info, 0, sizeof(PClassInfo));
    memcpy(info->cid, mClass.cid, sizeof(TUID));
    info->cardinality = mClass.cardinality;
    memcpy(info->category, mClass.category, sizeof(info->category));
    memcpy(info->name, mClass.name, sizeof(info->name));
    return kResultOk;
  }

  tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override
  {
    if (!info || index != 0 || !mHasClass)
      return kInvalidArgument;
    memcpy((void*)info, (const void*)&mClass, sizeof(PClassInfo2));
    return kResultOk;
  }

  tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override
  {
    if (!info || index != 0 || !mHasClass)
      return kInvalidArgument;
    memset((void*)info, 0, sizeof(PClassInfoW));
    memcpy(info->cid, mClass.cid, sizeof(TUID));
    info->cardinality = mClass.cardinality;
    memcpy(info->category, mClass.category, sizeof(info->category));
    WidenText(info->name, mClass.name, PClassInfo::kNameSize);
    info->classFlags = mClass.classFlags;
    memcpy(info->subCategories, mClass.subCategories, sizeof(info->subCategories));
    WidenText(info->vendor, mClass.vendor, PClassInfoW::kVendorSize);
    WidenText(info->version, mClass.version, PClassInfoW::kVersionSize);
    WidenText(info->sdkVersion, mClass.sdkVersion, PClassInfoW::kVersionSize);
    return kResultOk;
  }

  tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
  {
    if (!obj)
      return kInvalidArgument;
    *obj = nullptr;
    if (!cid || !iid || !mHasClass || !FUnknownPrivate::iidEqual(cid, mClass.cid))
      return kNoInterface;
    FUnknown* instance = mCreate(mContext);
    if (!instance)
      return kNoInterface;
    tresult result = instance->queryInterface(iid, obj);
    if (result != kResultOk)
      *obj = nullptr;
    instance->release();
    return *obj ? kResultOk : kNoInterface;
  }

  tresult PLUGIN_API setHostContext(FUnknown*) override { return kNotImplemented; }

private:
  std::atomic<uint32> mRefs{1};
  PFactoryInfo mInfo;
  PClassInfo2 mClass;
  CreateFunc mCreate = nullptr;
  void* mContext = nullptr;
  bool mHasClass = false;
};

}  // namespace

extern "C" SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
  std::lock_guard<std::mutex> lock(gFactoryMutex);
  if (gPluginFactory)
  {
    gPluginFactory->addRef();
    return gPluginFactory;
  }
  std::call_once(gFactoryInfoOnce, FillFactoryInfo);
  gPluginFactory = new IFxPluginFactory(gFactoryInfo);
  std::call_once(gClassInfoOnce, FillClassInfo);
  gPluginFactory->RegisterClass(gClassInfo, createInstance, nullptr);
  return gPluginFactory;
}
