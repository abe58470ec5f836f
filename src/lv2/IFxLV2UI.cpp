// The plug-in's editor as an LV2 UI (ui:X11UI) and the UI module's entry
// point, lv2ui_descriptor. The UI holds the plug-in's parameter table (no
// signal path) as the model behind the editor and talks to the plug-in only
// through ports: values and meters arrive through port_event and edits leave
// through the host's write function, so the two may live in different
// processes.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fx/IFxStateTail.h"
#include "fx/IParam.h"
#include "graphics/IControl.h"
#include "graphics/IEditorRunLoop.h"
#include "graphics/IGraphics.h"
#include "lv2/IFxLV2.h"
#include "lv2/atom/atom.h"
#include "lv2/instance-access/instance-access.h"
#include "lv2/options/options.h"
#include "lv2/ui/ui.h"
#include "lv2/urid/urid.h"
#include "kit/KitClock.h"

namespace {

// The host's idle calls as the editor's run loop: each call reads the
// window's events and, when the timer is due, lets the editor redraw.
class IdleRunLoop : public IEditorRunLoop
{
public:
  bool WatchFd(int fd, IEditorRunLoopClient* pClient) override
  {
    mFd = fd;
    mFdClient = pClient;
    return true;
  }
  void UnwatchFd(IEditorRunLoopClient* pClient) override
  {
    if (mFdClient == pClient) mFdClient = nullptr;
  }
  bool StartTimer(int ms, IEditorRunLoopClient* pClient) override
  {
    mTimerMs = ms > 0 ? ms : 1;
    mTimerClient = pClient;
    mLastTick = KitNowMs();
    return true;
  }
  void StopTimer(IEditorRunLoopClient* pClient) override
  {
    if (mTimerClient == pClient) mTimerClient = nullptr;
  }

  void Idle()
  {
    // The connection may hold events already read from the socket, so the
    // editor looks on every call rather than only when the socket is ready.
    if (mFdClient) mFdClient->OnRunLoopFd(mFd);
    // Hosts idle at 30 Hz or more with no precise timing; a tick that is
    // nearly due is taken rather than left to the next call.
    const double now = KitNowMs();
    if (mTimerClient && now - mLastTick >= 0.75 * mTimerMs)
    {
      mLastTick = now;
      mTimerClient->OnRunLoopTimer();
    }
  }

private:
  int mFd = -1;
  IEditorRunLoopClient* mFdClient = nullptr;
  IEditorRunLoopClient* mTimerClient = nullptr;
  int mTimerMs = 40;
  double mLastTick = 0.0;
};

// The data of a host feature, or null.
const void* FindFeature(const LV2_Feature* const* features, const char* uri)
{
  for (const LV2_Feature* const* f = features; f && *f; ++f)
    if ((*f)->URI && !strcmp((*f)->URI, uri)) return (*f)->data;
  return nullptr;
}

// The host's ui:scaleFactor among its options, or 0 when it gives none.
double HostScaleFactor(const LV2_Feature* const* features)
{
  const auto* map = static_cast<const LV2_URID_Map*>(FindFeature(features, LV2_URID__map));
  const auto* options = static_cast<const LV2_Options_Option*>(FindFeature(features, LV2_OPTIONS__options));
  if (!map || !map->map || !options) return 0.0;
  const LV2_URID scaleKey = map->map(map->handle, LV2_UI__scaleFactor);
  const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
  for (const LV2_Options_Option* o = options; o->key || o->value; ++o)
    if (o->key == scaleKey && o->type == floatType && o->size == sizeof(float) && o->value)
      return *static_cast<const float*>(o->value);
  return 0.0;
}

}  // namespace

class IFxLV2UI final : private IFxLV2EditSink
{
public:
  // Null when the host gives no parent window or the editor cannot open.
  static IFxLV2UI* Create(LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                          const LV2_Feature* const* features)
  {
    const void* parent = FindFeature(features, LV2_UI__parent);
    if (!write || !widget || !parent) return nullptr;
    std::unique_ptr<IFxLV2UI> ui(new IFxLV2UI(write, controller, features));
    IGraphics* pGraphics = ui->Graphics();
    if (!pGraphics) return nullptr;
    ui->PrimeMeters();
    // The host's scale, if it gives one; the editor's own order of
    // precedence (the user's override first) decides.
    const double scale = HostScaleFactor(features);
    if (scale > 0.0) pGraphics->SetScale(scale);
    pGraphics->SetHostRunLoop(&ui->mLoop);
    void* window = pGraphics->OpenWindow(const_cast<void*>(parent));
    if (!window)
    {
      pGraphics->SetHostRunLoop(nullptr);
      return nullptr;
    }
    ui->mPlug->Plug()->OnGUIOpen();
    *widget = window;
    if (const auto* resize = static_cast<const LV2UI_Resize*>(FindFeature(features, LV2_UI__resize)))
      if (resize->ui_resize) resize->ui_resize(resize->handle, pGraphics->WindowWidth(), pGraphics->WindowHeight());
    return ui.release();
  }

  ~IFxLV2UI()
  {
    if (IGraphics* pGraphics = Graphics())
    {
      if (pGraphics->WindowIsOpen())
      {
        mPlug->Plug()->OnGUIClose();
        pGraphics->CloseWindow();
      }
      pGraphics->SetHostRunLoop(nullptr);
    }
    mPlug->SetEditSink(nullptr);
  }

  void PortEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer)
  {
    // Only plain float values (format 0) are sent to this UI's ports.
    if (format != 0 || size != sizeof(float) || !buffer) return;
    float value;
    memcpy(&value, buffer, sizeof(value));
    mPlug->PortEvent(port, value);
  }

  int Idle()
  {
    FollowDsp();
    FollowSlots();
    mLoop.Idle();
    return 0;
  }

private:
  IFxLV2UI(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2_Feature* const* features)
    : mPlug(new IFxLV2(MakeParamTable())), mWrite(write), mController(controller),
      mTouch(static_cast<const LV2UI_Touch*>(FindFeature(features, LV2_UI__touch))),
      mDsp(static_cast<IFxLV2*>(const_cast<void*>(FindFeature(features, LV2_INSTANCE_ACCESS_URI))))
  {
    // By port, as edits name them.
    mFollowed.assign((size_t)mPlug->Ports().Count(), Followed());
    // The defaults until the host reports the ports' values.
    if (IGraphics* pGraphics = MakeEditor(mPlug->Plug())) mPlug->Plug()->AttachGraphics(pGraphics);
    mPlug->Plug()->RestorePreset(0);
    mPlug->SetEditSink(this);
  }

  IGraphics* Graphics() { return mPlug ? static_cast<IGraphics*>(mPlug->Plug()->GetGraphics()) : nullptr; }

  // The first value a control takes from the plug-in only becomes its
  // default and is not drawn. The host may report a level once and then
  // only on change, so that first report must be drawn: the control takes
  // its own value first.
  void PrimeMeters()
  {
    IGraphics* pGraphics = Graphics();
    IFxBase* plug = mPlug->Plug();
    for (int m = 0; m < plug->MeterCount(); ++m)
      if (IControl* c = pGraphics->GetControl(plug->GetMeterInfo(m).controlIdx)) c->SetValueFromPlug(c->GetValue());
  }

  void BeginEdit(uint32_t port) override
  {
    if (port < mFollowed.size()) mFollowed[port].editing = true;
    if (mTouch && mTouch->touch) mTouch->touch(mTouch->handle, port, true);
  }
  void Edit(uint32_t port, float value) override
  {
    if (port < mFollowed.size())
    {
      mFollowed[port].written = value;
      mFollowed[port].hasWritten = true;
    }
    mWrite(mController, port, sizeof(float), 0, &value);
  }
  void EndEdit(uint32_t port) override
  {
    if (port < mFollowed.size()) mFollowed[port].editing = false;
    if (mTouch && mTouch->touch) mTouch->touch(mTouch->handle, port, false);
  }

  // Where the host lets the UI see the plug-in it belongs to, the editor
  // follows the values the plug-in runs with, as a port event would bring
  // them: a host that sets ports without telling the UI (a preset chosen in
  // its own dialog) is shown all the same. A value is taken when it changes
  // in the plug-in, except while the user edits it and when it is only the
  // echo of the UI's own last write.
  void FollowDsp()
  {
    if (!mDsp) return;
    IFxBase* dsp = mDsp->Plug();
    const int n = std::min(mPlug->Plug()->ParamCount(), dsp->ParamCount());
    for (int i = 0; i < n; ++i)
    {
      const size_t port = mPlug->Ports().ParamPort(i);
      if (port >= mFollowed.size()) continue;
      Followed& f = mFollowed[port];
      const float v = (float)dsp->ParamAt((int)i)->GetValue();
      if (f.seen && v == f.last) continue;
      f.seen = true;
      f.last = v;
      if (f.editing || (f.hasWritten && v == f.written)) continue;
      mPlug->ApplyControlValue((int)i, v);
    }
  }

  // The A/B slots live in the plug-in, whose state the host saves; the
  // editor switches the UI's own. Where the UI can see the plug-in, a
  // change on either side is copied to the other, the UI's first. Without
  // that the comparison works while the UI is open, and is not saved.
  void FollowSlots()
  {
    if (!mDsp) return;
    IFxBase* dsp = mDsp->Plug();
    IFxBase* ui = mPlug->Plug();
    IFxStateTail slots;
    if (mSlotsSeen && ui->SlotsVersion() != mUiSlots)
    {
      ui->GetSlots(&slots);
      dsp->SetSlots(slots);
    }
    else if (!mSlotsSeen || dsp->SlotsVersion() != mDspSlots)
    {
      dsp->GetSlots(&slots);
      ui->SetSlots(slots);
    }
    mSlotsSeen = true;
    mUiSlots = ui->SlotsVersion();
    mDspSlots = dsp->SlotsVersion();
  }

  std::unique_ptr<IFxLV2> mPlug;
  IdleRunLoop mLoop;
  bool mSlotsSeen = false;
  unsigned mUiSlots = 0, mDspSlots = 0;
  LV2UI_Write_Function mWrite;
  LV2UI_Controller mController;
  const LV2UI_Touch* mTouch;
  // The plug-in's own instance, where the host offers it (instance-access);
  // not owned.
  IFxLV2* mDsp;
  struct Followed
  {
    float last = 0.0f;     // the plug-in's value when last looked at
    bool seen = false;
    float written = 0.0f;  // what the UI last wrote to the port
    bool hasWritten = false;
    bool editing = false;  // between the edit's touch and release
  };
  std::vector<Followed> mFollowed;  // by parameter
};

namespace {

IFxLV2UI* UI(LV2UI_Handle h) { return static_cast<IFxLV2UI*>(h); }

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
  if (!pluginUri || strcmp(pluginUri, GetLV2ClassDef().uri) != 0) return nullptr;
  return IFxLV2UI::Create(write, controller, widget, features);
}

void Cleanup(LV2UI_Handle h) { delete UI(h); }

void PortEvent(LV2UI_Handle h, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
  UI(h)->PortEvent(port, size, format, buffer);
}

int Idle(LV2UI_Handle h) { return UI(h)->Idle(); }

const void* ExtensionData(const char* uri)
{
  static const LV2UI_Idle_Interface idle = {Idle};
  return uri && !strcmp(uri, LV2_UI__idleInterface) ? &idle : nullptr;
}

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
  static const std::string uri = std::string(GetLV2ClassDef().uri) + "#ui";
  static const LV2UI_Descriptor descriptor = {uri.c_str(), Instantiate, Cleanup, PortEvent, ExtensionData};
  return index == 0 ? &descriptor : nullptr;
}
