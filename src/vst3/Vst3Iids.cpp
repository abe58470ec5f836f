// The SDK subset on this platform declares these interface IDs but no shipped
// source defines them; every user of the views and the Linux run loop needs
// exactly one definition in the module. The binding's own interface is
// defined here too, once for the module and once for our host library.
#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "IFxVST3Meters.h"

namespace Steinberg {
DEF_CLASS_IID (IPlugView)
DEF_CLASS_IID (IPlugFrame)
DEF_CLASS_IID (IPlugViewContentScaleSupport)
namespace Linux {
DEF_CLASS_IID (IEventHandler)
DEF_CLASS_IID (ITimerHandler)
DEF_CLASS_IID (IRunLoop)
} // namespace Linux
} // namespace Steinberg

DEF_CLASS_IID (IFxVST3Meters)
