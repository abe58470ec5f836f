#pragma once

// The editor view a VST 3 host asks for: it attaches the plug-in's editor
// graphics object to the host's window and detaches it again. The editor
// itself lives as long as the plug-in.

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "public.sdk/source/common/pluginview.h"

class IFxVST3;
class IFxVST3HostRunLoop;

// Hosts on high-density screens tell the view their scale through
// IPlugViewContentScaleSupport; the editor then draws at that many device
// pixels per layout pixel and asks the host's frame for the new size.
class IFxVST3View : public Steinberg::CPluginView, public Steinberg::IPlugViewContentScaleSupport
{
public:
  explicit IFxVST3View(IFxVST3* pOwner);
  ~IFxVST3View() override;

  Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API removed() override;
  Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override;
  Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;

  // 1 to 3 (values outside are clamped); anything not a positive number is
  // refused with kInvalidArgument.
  Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override;

  // Asks the host's frame for a new view size; the answer comes as onSize.
  void resize(int w, int h);

  OBJ_METHODS(IFxVST3View, CPluginView)
  DEFINE_INTERFACES
    DEF_INTERFACE(IPlugViewContentScaleSupport)
  END_DEFINE_INTERFACES(CPluginView)
  REFCOUNT_METHODS(CPluginView)

  bool IsResizePending() const { return mResizePending; }
  // The window is open in a host window.
  bool IsOpen() const { return mRunLoop != nullptr; }

private:
  IFxVST3* mOwner;
  bool mResizePending = false;
  // The host's run loop while the window is open.
  IFxVST3HostRunLoop* mRunLoop = nullptr;
};
