#include "host/Vst3Host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace vst3host {

std::string ToAscii(const Vst::TChar* s)
{
  std::string out;
  for (int i = 0; s && i < 128 && s[i]; ++i)
    out.push_back(s[i] < 128 ? (char)s[i] : '?');
  return out;
}

void ToString128(const char* s, Vst::String128 out)
{
  int i = 0;
  for (; s && s[i] && i < 127; ++i)
    out[i] = (Vst::TChar)(unsigned char)s[i];
  out[i] = 0;
}

static bool HasSuffix(const std::string& s, const std::string& suffix)
{
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string BundleSoPath(const std::string& bundleIn)
{
  std::string bundle = bundleIn;
  while (bundle.size() > 1 && bundle.back() == '/')
    bundle.pop_back();
  std::string base = bundle.substr(bundle.find_last_of('/') + 1);
  if (HasSuffix(base, ".vst3"))
    base.resize(base.size() - 5);
  return bundle + "/Contents/x86_64-linux/" + base + ".so";
}

Module::Module(const std::string& path)
{
  mSoPath = HasSuffix(path, ".so") ? path : BundleSoPath(path);
  mHandle = dlopen(mSoPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!mHandle)
  {
    const char* e = dlerror();
    mError = e ? e : "dlopen failed";
    return;
  }
  using EntryProc = bool (*)(void*);
  auto entry = (EntryProc)dlsym(mHandle, "ModuleEntry");
  auto getFactory = (GetFactoryProc)dlsym(mHandle, "GetPluginFactory");
  if (!entry || !getFactory)
  {
    mError = "module lacks ModuleEntry or GetPluginFactory";
    return;
  }
  if (!entry(mHandle))
  {
    mError = "ModuleEntry failed";
    return;
  }
  mEntered = true;
  mFactory = getFactory();
  if (!mFactory)
    mError = "GetPluginFactory returned null";
}

Module::~Module()
{
  if (mFactory)
    mFactory->release();
  if (mEntered)
  {
    using ExitProc = bool (*)();
    if (auto exitProc = (ExitProc)dlsym(mHandle, "ModuleExit"))
      exitProc();
  }
  if (mHandle)
    dlclose(mHandle);
}

void* Module::Symbol(const char* name) const
{
  return mHandle ? dlsym(mHandle, name) : nullptr;
}

bool Module::FirstAudioClass(TUID cid) const
{
  if (!mFactory)
    return false;
  for (int32 i = 0; i < mFactory->countClasses(); ++i)
  {
    PClassInfo info;
    if (mFactory->getClassInfo(i, &info) == kResultOk &&
        strcmp(info.category, kVstAudioEffectClass) == 0)
    {
      memcpy(cid, info.cid, sizeof(TUID));
      return true;
    }
  }
  return false;
}

// --- host application ---------------------------------------------------

HostApplication::HostApplication(const char* name, bool offerRunLoop) : mName(name), mOfferRunLoop(offerRunLoop) {}

TimerRunLoop::~TimerRunLoop()
{
  for (auto* t : mTimers) t->release();
}

tresult PLUGIN_API TimerRunLoop::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    addRef();
    *obj = static_cast<Linux::IRunLoop*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

tresult PLUGIN_API HostApplication::getName(Vst::String128 name)
{
  ToString128(mName.c_str(), name);
  return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance(TUID, TUID, void** obj)
{
  *obj = nullptr;
  return kResultFalse;
}

tresult PLUGIN_API HostApplication::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, Vst::IHostApplication::iid) ||
      FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    addRef();
    *obj = static_cast<Vst::IHostApplication*>(this);
    return kResultOk;
  }
  if (mOfferRunLoop && FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid))
    return mRunLoop.queryInterface(iid, obj);
  *obj = nullptr;
  return kNoInterface;
}

tresult PLUGIN_API TimerRunLoop::registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor)
{
  return handler ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API TimerRunLoop::unregisterEventHandler(Linux::IEventHandler*) { return kResultOk; }

tresult PLUGIN_API TimerRunLoop::registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval)
{
  if (!handler) return kInvalidArgument;
  std::lock_guard<std::mutex> lock(mMutex);
  handler->addRef();
  mTimers.push_back(handler);
  return kResultOk;
}

tresult PLUGIN_API TimerRunLoop::unregisterTimer(Linux::ITimerHandler* handler)
{
  std::lock_guard<std::mutex> lock(mMutex);
  for (auto it = mTimers.begin(); it != mTimers.end(); ++it)
    if (*it == handler)
    {
      (*it)->release();
      mTimers.erase(it);
      return kResultOk;
    }
  return kResultFalse;
}

void TimerRunLoop::RunTimers()
{
  std::vector<Linux::ITimerHandler*> timers;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    timers = mTimers;
    for (auto* t : timers) t->addRef();
  }
  for (auto* t : timers)
  {
    t->onTimer();
    t->release();
  }
}

size_t TimerRunLoop::TimerCount() const
{
  std::lock_guard<std::mutex> lock(mMutex);
  return mTimers.size();
}

tresult PLUGIN_API BareContext::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    *obj = this;
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

// --- component handler --------------------------------------------------

void ComponentHandler::Record(Edit e)
{
  std::lock_guard<std::mutex> lock(mMutex);
  mEdits.push_back(e);
}

tresult PLUGIN_API ComponentHandler::beginEdit(Vst::ParamID id)
{
  Record({Edit::kBegin, id, 0.0});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(Vst::ParamID id, Vst::ParamValue value)
{
  Record({Edit::kPerform, id, value});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(Vst::ParamID id)
{
  Record({Edit::kEnd, id, 0.0});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags)
{
  if (mCaller.load() == std::this_thread::get_id()) ++mRestartsInsideCalls;
  Record({Edit::kRestart, 0, (double)flags});
  return kResultOk;
}

Vst::IContextMenu* PLUGIN_API ComponentHandler::createContextMenu(IPlugView*, const Vst::ParamID* id)
{
  Record({Edit::kContextMenu, id ? *id : 0xFFFFFFFFu, 0.0});
  if (!mOfferMenus)
    return nullptr;
  if (mLastMenu)
    mLastMenu->release();
  mLastMenu = new ContextMenu(mChoose);
  Vst::IContextMenuItem own = {};
  ToString128("Host Item", own.name);
  own.tag = 1000;
  mLastMenu->addItem(own, nullptr);
  mLastMenu->addRef();  // the plug-in's reference
  return mLastMenu;
}

ComponentHandler::~ComponentHandler()
{
  if (mLastMenu)
    mLastMenu->release();
}

void ComponentHandler::OfferContextMenus(const std::string& choose)
{
  mOfferMenus = true;
  mChoose = choose;
}

// --- context menu ---------------------------------------------------------

ContextMenu::~ContextMenu()
{
  for (Entry& i : mItems)
    if (i.target)
      i.target->release();
}

uint32 PLUGIN_API ContextMenu::release()
{
  const int n = --mRefs;
  if (n == 0)
    delete this;
  return (uint32)n;
}

tresult PLUGIN_API ContextMenu::getItem(int32 index, Vst::IContextMenuItem& item, Vst::IContextMenuTarget** target)
{
  if (index < 0 || index >= (int32)mItems.size())
    return kResultFalse;
  ToString128(mItems[(size_t)index].name.c_str(), item.name);
  item.tag = mItems[(size_t)index].tag;
  item.flags = mItems[(size_t)index].flags;
  if (target)
  {
    *target = mItems[(size_t)index].target;
    if (*target)
      (*target)->addRef();
  }
  return kResultOk;
}

tresult PLUGIN_API ContextMenu::addItem(const Vst::IContextMenuItem& item, Vst::IContextMenuTarget* target)
{
  if (target)
    target->addRef();
  mItems.push_back({ToAscii(item.name), item.tag, item.flags, target});
  return kResultOk;
}

tresult PLUGIN_API ContextMenu::removeItem(const Vst::IContextMenuItem& item, Vst::IContextMenuTarget* target)
{
  for (auto it = mItems.begin(); it != mItems.end(); ++it)
    if (it->tag == item.tag && it->target == target)
    {
      if (it->target)
        it->target->release();
      mItems.erase(it);
      return kResultOk;
    }
  return kResultFalse;
}

tresult PLUGIN_API ContextMenu::popup(UCoord x, UCoord y)
{
  ++mPopups;
  mX = x;
  mY = y;
  if (!mChoose.empty())
    Run(mChoose);
  return kResultOk;
}

bool ContextMenu::Run(const std::string& name)
{
  for (const Entry& i : mItems)
    if (i.name == name && i.target && !(i.flags & Vst::IContextMenuItem::kIsSeparator))
    {
      // A copy: the target may change the menu's items.
      Vst::IContextMenuTarget* target = i.target;
      const int32 tag = i.tag;
      target->addRef();
      target->executeMenuItem(tag);
      target->release();
      return true;
    }
  return false;
}

std::vector<std::string> ContextMenu::Names() const
{
  std::vector<std::string> names;
  for (const Entry& i : mItems)
    names.push_back(i.flags & Vst::IContextMenuItem::kIsSeparator ? "" : i.name);
  return names;
}

tresult PLUGIN_API ContextMenu::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, Vst::IContextMenu::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    addRef();
    *obj = static_cast<Vst::IContextMenu*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

tresult PLUGIN_API ComponentHandler::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, Vst::IComponentHandler::iid) ||
      FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    addRef();
    *obj = static_cast<Vst::IComponentHandler*>(this);
    return kResultOk;
  }
  if (FUnknownPrivate::iidEqual(iid, Vst::IComponentHandler3::iid))
  {
    addRef();
    *obj = static_cast<Vst::IComponentHandler3*>(this);
    return kResultOk;
  }
  if (FUnknownPrivate::iidEqual(iid, Vst::IComponentHandler2::iid))
  {
    addRef();
    *obj = static_cast<Vst::IComponentHandler2*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

tresult PLUGIN_API ComponentHandler::setDirty(TBool state)
{
  Record({Edit::kDirty, 0, state ? 1.0 : 0.0});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::startGroupEdit()
{
  Record({Edit::kGroupStart, 0, 0.0});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::finishGroupEdit()
{
  Record({Edit::kGroupFinish, 0, 0.0});
  return kResultOk;
}

std::vector<Edit> ComponentHandler::Edits() const
{
  std::lock_guard<std::mutex> lock(mMutex);
  return mEdits;
}

void ComponentHandler::Clear()
{
  std::lock_guard<std::mutex> lock(mMutex);
  mEdits.clear();
}

// --- parameter changes --------------------------------------------------

tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32& offset, Vst::ParamValue& value)
{
  ++mGetPointCalls;
  mLastIndexAsked = index;
  if (index < 0 || index >= (int32)mPoints.size())
    return kResultFalse;
  offset = mPoints[index].offset;
  value = mPoints[index].value;
  return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 offset, Vst::ParamValue value, int32& index)
{
  index = (int32)mPoints.size();
  mPoints.push_back({offset, value});
  return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, Vst::IParamValueQueue::iid) ||
      FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    *obj = this;
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

ParameterChanges::~ParameterChanges() { Clear(); }

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(int32 index)
{
  if (index < 0 || index >= (int32)mQueues.size())
    return nullptr;
  return mQueues[index];
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData(const Vst::ParamID& id, int32& index)
{
  for (size_t i = 0; i < mQueues.size(); ++i)
    if (mQueues[i]->getParameterId() == id)
    {
      index = (int32)i;
      return mQueues[i];
    }
  index = (int32)mQueues.size();
  mQueues.push_back(new ParamValueQueue(id));
  return mQueues.back();
}

tresult PLUGIN_API ParameterChanges::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, Vst::IParameterChanges::iid) ||
      FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    *obj = this;
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

ParamValueQueue* ParameterChanges::Add(Vst::ParamID id, double value, int32 offset)
{
  int32 index = 0;
  auto* q = static_cast<ParamValueQueue*>(addParameterData(id, index));
  q->Add(offset, value);
  return q;
}

void ParameterChanges::Clear()
{
  for (auto* q : mQueues)
    delete q;
  mQueues.clear();
}

// --- memory stream ------------------------------------------------------

tresult PLUGIN_API MemoryStream::read(void* buffer, int32 numBytes, int32* numBytesRead)
{
  ++mReadCalls;
  if (mHostile)
  {
    if (numBytesRead)
      *numBytesRead = -1;
    return kResultFalse;
  }
  if (numBytes < 0 || !buffer)
  {
    if (numBytesRead)
      *numBytesRead = 0;
    return kInvalidArgument;
  }
  const int32 asked = mMaxPerCall > 0 ? std::min(numBytes, mMaxPerCall) : numBytes;
  int64 avail = std::max<int64>(0, (int64)mData.size() - mPos);
  int32 n = (int32)std::min<int64>(avail, asked);
  if (n > 0)
    memcpy(buffer, mData.data() + mPos, n);
  mPos += n;
  if (numBytesRead)
    *numBytesRead = n;
  return n == asked ? kResultOk : kResultFalse;
}

tresult PLUGIN_API MemoryStream::write(void* buffer, int32 numBytes, int32* numBytesWritten)
{
  ++mWriteCalls;
  if (numBytesWritten)
    *numBytesWritten = 0;
  if (numBytes < 0 || (!buffer && numBytes > 0))
    return kInvalidArgument;
  const int32 asked = mMaxPerCall > 0 ? std::min(numBytes, mMaxPerCall) : numBytes;
  int32 n = asked;
  if (mCapacity >= 0)
    n = (int32)std::max<int64>(0, std::min<int64>(n, mCapacity - mPos));
  if ((int64)mData.size() < mPos + n)
    mData.resize(mPos + n);
  if (n > 0)
    memcpy(mData.data() + mPos, buffer, n);
  mPos += n;
  if (numBytesWritten)
    *numBytesWritten = n;
  return n == asked ? kResultOk : kResultFalse;
}

tresult PLUGIN_API MemoryStream::seek(int64 pos, int32 mode, int64* result)
{
  int64 base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? mPos : (int64)mData.size();
  int64 p = base + pos;
  if (p < 0)
    return kResultFalse;
  mPos = p;
  if (result)
    *result = mPos;
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell(int64* pos)
{
  if (!pos)
    return kInvalidArgument;
  *pos = mPos;
  return kResultOk;
}

tresult PLUGIN_API MemoryStream::queryInterface(const TUID iid, void** obj)
{
  if (FUnknownPrivate::iidEqual(iid, IBStream::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid))
  {
    addRef();
    *obj = static_cast<IBStream*>(this);
    return kResultOk;
  }
  *obj = nullptr;
  return kNoInterface;
}

// --- audio buffers ------------------------------------------------------

AudioBuffers::AudioBuffers(int numBuses, int channels, int frames, bool is64)
  : mIs64(is64), mChannels(channels), mFrames(frames)
{
  int n = numBuses * channels;
  if (is64)
    mD.assign(n, std::vector<double>(std::max(frames, 1), 0.0));
  else
    mF.assign(n, std::vector<float>(std::max(frames, 1), 0.0f));
  mFPtr.resize(numBuses);
  mDPtr.resize(numBuses);
  mBuses.resize(numBuses);
  for (int b = 0; b < numBuses; ++b)
  {
    Vst::AudioBusBuffers& bus = mBuses[b];
    bus.numChannels = channels;
    bus.silenceFlags = 0;
    for (int c = 0; c < channels; ++c)
    {
      if (is64)
        mDPtr[b].push_back(mD[b * channels + c].data());
      else
        mFPtr[b].push_back(mF[b * channels + c].data());
    }
    if (is64)
      bus.channelBuffers64 = mDPtr[b].data();
    else
      bus.channelBuffers32 = mFPtr[b].data();
  }
}

double AudioBuffers::Get(int bus, int ch, int frame) const
{
  int i = bus * mChannels + ch;
  return mIs64 ? mD[i][frame] : (double)mF[i][frame];
}

void AudioBuffers::Set(int bus, int ch, int frame, double v)
{
  int i = bus * mChannels + ch;
  if (mIs64)
    mD[i][frame] = v;
  else
    mF[i][frame] = (float)v;
}

void AudioBuffers::Fill(double v)
{
  for (auto& b : mD)
    std::fill(b.begin(), b.end(), v);
  for (auto& b : mF)
    std::fill(b.begin(), b.end(), (float)v);
}

void AudioBuffers::SetFrames(int frames)
{
  size_t cap = mIs64 ? (mD.empty() ? 0 : mD[0].size()) : (mF.empty() ? 0 : mF[0].size());
  mFrames = std::min<int>(frames, (int)cap);
}

// --- instance -----------------------------------------------------------

Instance::Instance(IPluginFactory* factory, const TUID cid)
{
  createResult = factory->createInstance(cid, Vst::IComponent::iid, (void**)&component);
  if (createResult != kResultOk || !component)
    return;
  component->queryInterface(Vst::IAudioProcessor::iid, (void**)&processor);
  component->queryInterface(Vst::IEditController::iid, (void**)&controller);
}

void Instance::Reset()
{
  if (controller)
    controller->release();
  if (processor)
    processor->release();
  if (component)
    component->release();
  controller = nullptr;
  processor = nullptr;
  component = nullptr;
}

Instance::~Instance() { Reset(); }

}  // namespace vst3host
