#pragma once

// A small VST 3 host of our own: loads a bundle the way a Linux host does and
// offers the host-side objects a plug-in talks to. The end-to-end tests and
// the offline renderer share it.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace vst3host {

using namespace Steinberg;

// UTF-16 <-> ASCII for the 128-unit strings of the interfaces.
std::string ToAscii(const Vst::TChar* s);
void ToString128(const char* s, Vst::String128 out);

// The loaded module: dlopen, ModuleEntry, GetPluginFactory; the reverse on
// destruction. Accepts the bundle folder or the .so itself.
class Module
{
public:
  explicit Module(const std::string& path);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool IsLoaded() const { return mFactory != nullptr; }
  const std::string& Error() const { return mError; }
  const std::string& SoPath() const { return mSoPath; }
  void* Handle() const { return mHandle; }
  IPluginFactory* Factory() const { return mFactory; }
  void* Symbol(const char* name) const;

  // The first class of category "Audio Module Class", or false.
  bool FirstAudioClass(TUID cid) const;

private:
  std::string mSoPath, mError;
  void* mHandle = nullptr;
  IPluginFactory* mFactory = nullptr;
  bool mEntered = false;
};

// The bundle's .so path inside a "<name>.vst3" folder for this architecture.
std::string BundleSoPath(const std::string& bundle);

// The run loop a test host offers: timers registered there run only when
// the owner calls RunTimers, as a host's UI thread would between its calls
// on the plug-in. Descriptors are accepted and never watched.
class TimerRunLoop : public Linux::IRunLoop
{
public:
  virtual ~TimerRunLoop();
  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) override;
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override;
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) override;
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override { return --mRefs; }  // owned by its host

  // Runs every registered timer once, on the calling thread.
  void RunTimers();
  size_t TimerCount() const;

private:
  std::atomic<int> mRefs{1};
  mutable std::mutex mMutex;
  std::vector<Linux::ITimerHandler*> mTimers;  // held
};

// The host context. It offers its run loop as Ardour's does, unless told
// not to.
class HostApplication : public Vst::IHostApplication
{
public:
  explicit HostApplication(const char* name = "Tavlo Test Host", bool offerRunLoop = true);
  virtual ~HostApplication() {}
  tresult PLUGIN_API getName(Vst::String128 name) override;
  tresult PLUGIN_API createInstance(TUID cid, TUID iid, void** obj) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override { return --mRefs; }  // owned by the test
  int Refs() const { return mRefs; }

  TimerRunLoop& RunLoop() { return mRunLoop; }
  void RunTimers() { mRunLoop.RunTimers(); }

private:
  std::string mName;
  bool mOfferRunLoop;
  std::atomic<int> mRefs{1};
  TimerRunLoop mRunLoop;
};

// A context without IHostApplication, to check the plug-in copes.
class BareContext : public FUnknown
{
public:
  virtual ~BareContext() {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return 2; }
  uint32 PLUGIN_API release() override { return 1; }
};

// One edit the plug-in reported to the host.
struct Edit
{
  enum Kind { kBegin, kPerform, kEnd, kRestart, kContextMenu, kGroupStart, kGroupFinish, kDirty } kind;
  Vst::ParamID tag;
  double value;  // performEdit value, restart flags
};

// A host's context menu for a parameter: one item of the host's own
// ("Host Item"), then whatever the plug-in adds. popup records where it was
// asked for and runs the item named beforehand, as a host does while its
// menu is open; a host that acts after the menu closed is Run.
class ContextMenu : public Vst::IContextMenu
{
public:
  explicit ContextMenu(std::string choose) : mChoose(std::move(choose)) {}
  virtual ~ContextMenu();
  int32 PLUGIN_API getItemCount() override { return (int32)mItems.size(); }
  tresult PLUGIN_API getItem(int32 index, Vst::IContextMenuItem& item, Vst::IContextMenuTarget** target) override;
  tresult PLUGIN_API addItem(const Vst::IContextMenuItem& item, Vst::IContextMenuTarget* target) override;
  tresult PLUGIN_API removeItem(const Vst::IContextMenuItem& item, Vst::IContextMenuTarget* target) override;
  tresult PLUGIN_API popup(UCoord x, UCoord y) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override;

  // The names of the items in order, "" for a separator.
  std::vector<std::string> Names() const;
  int Popups() const { return mPopups; }
  int X() const { return mX; }
  int Y() const { return mY; }
  // Runs the target of the item of that name; false when there is none.
  bool Run(const std::string& name);

private:
  struct Entry
  {
    std::string name;
    int32 tag;
    int32 flags;
    Vst::IContextMenuTarget* target;  // held
  };
  std::vector<Entry> mItems;
  std::string mChoose;
  int mPopups = 0, mX = -1, mY = -1;
  std::atomic<int> mRefs{1};
};

class ComponentHandler : public Vst::IComponentHandler, public Vst::IComponentHandler2, public Vst::IComponentHandler3
{
public:
  virtual ~ComponentHandler();
  // Grouped edits and the dirty flag are recorded as edits of tag 0.
  tresult PLUGIN_API setDirty(TBool state) override;
  tresult PLUGIN_API requestOpenEditor(FIDString) override { return kNotImplemented; }
  tresult PLUGIN_API startGroupEdit() override;
  tresult PLUGIN_API finishGroupEdit() override;
  tresult PLUGIN_API beginEdit(Vst::ParamID id) override;
  tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue value) override;
  tresult PLUGIN_API endEdit(Vst::ParamID id) override;
  tresult PLUGIN_API restartComponent(int32 flags) override;
  Vst::IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const Vst::ParamID* id) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override { return --mRefs; }

  std::vector<Edit> Edits() const;
  void Clear();
  int Refs() const { return mRefs; }

  // From now on createContextMenu answers with a ContextMenu whose popup
  // runs the item named choose ("" none); by default it answers null, a host
  // without context menus.
  void OfferContextMenus(const std::string& choose = "");
  // The menu last handed out, kept after the plug-in released it; null
  // before the first.
  ContextMenu* LastMenu() const { return mLastMenu; }

  // A host that holds a lock of its own around each of its calls on the
  // controller and takes the same lock in restartComponent, as Ardour
  // does: a restart asked for from inside such a call would wait for ever.
  // A Call marks one in progress on its thread; restarts made inside it are
  // counted (and recorded as any other).
  class Call
  {
  public:
    explicit Call(ComponentHandler& h) : mHandler(h) { h.mCaller.store(std::this_thread::get_id()); }
    ~Call() { mHandler.mCaller.store(std::thread::id()); }

  private:
    ComponentHandler& mHandler;
  };
  int RestartsInsideCalls() const { return mRestartsInsideCalls; }

private:
  std::atomic<std::thread::id> mCaller{std::thread::id()};
  std::atomic<int> mRestartsInsideCalls{0};
  void Record(Edit e);
  bool mOfferMenus = false;
  std::string mChoose;
  ContextMenu* mLastMenu = nullptr;  // held
  mutable std::mutex mMutex;
  std::vector<Edit> mEdits;
  std::atomic<int> mRefs{1};
};

class ParamValueQueue : public Vst::IParamValueQueue
{
public:
  explicit ParamValueQueue(Vst::ParamID id) : mId(id) {}
  virtual ~ParamValueQueue() {}
  Vst::ParamID PLUGIN_API getParameterId() override { return mId; }
  int32 PLUGIN_API getPointCount() override { return mForcedCount >= 0 ? mForcedCount : (int32)mPoints.size(); }
  tresult PLUGIN_API getPoint(int32 index, int32& offset, Vst::ParamValue& value) override;
  tresult PLUGIN_API addPoint(int32 offset, Vst::ParamValue value, int32& index) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return 2; }
  uint32 PLUGIN_API release() override { return 1; }

  void Add(int32 offset, double value) { mPoints.push_back({offset, value}); }
  // Claims a point count that getPoint cannot deliver (a broken host queue).
  void ForceCount(int32 n) { mForcedCount = n; }
  mutable int mGetPointCalls = 0;
  mutable int mLastIndexAsked = -1;

private:
  struct Point { int32 offset; double value; };
  Vst::ParamID mId;
  std::vector<Point> mPoints;
  int32 mForcedCount = -1;
};

class ParameterChanges : public Vst::IParameterChanges
{
public:
  virtual ~ParameterChanges();
  int32 PLUGIN_API getParameterCount() override { return (int32)mQueues.size(); }
  Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
  Vst::IParamValueQueue* PLUGIN_API addParameterData(const Vst::ParamID& id, int32& index) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return 2; }
  uint32 PLUGIN_API release() override { return 1; }

  // Convenience: one queue per call, points appended in order.
  ParamValueQueue* Add(Vst::ParamID id, double value, int32 offset = 0);
  void Clear();

private:
  std::vector<ParamValueQueue*> mQueues;
};

// IBStream over a byte vector. Data that ends early makes a short stream;
// the settings below make streams that move a few bytes per call, run out
// of room, or fail outright.
class MemoryStream : public IBStream
{
public:
  MemoryStream() {}
  explicit MemoryStream(std::vector<uint8_t> bytes) : mData(std::move(bytes)) {}
  virtual ~MemoryStream() {}
  tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override;
  tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override;
  tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override;
  tresult PLUGIN_API tell(int64* pos) override;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override { return --mRefs; }

  const std::vector<uint8_t>& Data() const { return mData; }
  std::vector<uint8_t>& Data() { return mData; }
  void Rewind() { mPos = 0; }
  int64 Pos() const { return mPos; }
  // Reads fail with kResultFalse and report negative or oversized counts.
  void SetHostile(bool h) { mHostile = h; }
  // Each read and write call moves at most n bytes (and succeeds), as pipes
  // and some hosts' streams do; 0 lifts the limit.
  void SetMaxPerCall(int32 n) { mMaxPerCall = n; }
  // Writes stop once the stream holds n bytes: the part that fits is
  // written and the call fails, like a full disk. Negative lifts the limit.
  void SetCapacity(int64 n) { mCapacity = n; }
  int ReadCalls() const { return mReadCalls; }
  int WriteCalls() const { return mWriteCalls; }

private:
  std::vector<uint8_t> mData;
  int64 mPos = 0;
  bool mHostile = false;
  int32 mMaxPerCall = 0;
  int64 mCapacity = -1;
  int mReadCalls = 0;
  int mWriteCalls = 0;
  std::atomic<int> mRefs{1};
};

// Audio buffers for one block: n buses of c channels, in float or double.
class AudioBuffers
{
public:
  AudioBuffers(int numBuses, int channels, int frames, bool is64);
  Vst::AudioBusBuffers* Buses() { return mBuses.data(); }
  int NumBuses() const { return (int)mBuses.size(); }
  int Frames() const { return mFrames; }
  double Get(int bus, int ch, int frame) const;
  void Set(int bus, int ch, int frame, double v);
  void Fill(double v);
  // Changes the count of frames used (no reallocation above capacity).
  void SetFrames(int frames);

private:
  bool mIs64;
  int mChannels, mFrames;
  std::vector<std::vector<float>> mF;
  std::vector<std::vector<double>> mD;
  std::vector<std::vector<float*>> mFPtr;
  std::vector<std::vector<double*>> mDPtr;
  std::vector<Vst::AudioBusBuffers> mBuses;
};

// One created plug-in instance: the component, its processor and controller.
struct Instance
{
  Vst::IComponent* component = nullptr;
  Vst::IAudioProcessor* processor = nullptr;
  Vst::IEditController* controller = nullptr;
  tresult createResult = kResultFalse;

  Instance() {}
  Instance(IPluginFactory* factory, const TUID cid);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  explicit operator bool() const { return component && processor && controller; }
  void Reset();
};

}  // namespace vst3host
