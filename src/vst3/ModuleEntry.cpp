// The Linux module entry points a VST 3 host calls right after dlopen and
// right before dlclose. Nested entry/exit pairs balance: only the first
// entry and the last exit reach the plug-in's hooks.
#include <dlfcn.h>

#include <mutex>
#include <string>

#include "base/source/updatehandler.h"
#include "pluginterfaces/base/fplatform.h"
#include "vst3/IFxVST3Factory.h"

namespace {
std::mutex gModuleMutex;
int gModuleCounter = 0;
void* gModuleHandle = nullptr;
std::string gBundlePath;

// ".../Name.vst3/Contents/<arch>/Name.so" gives ".../Name.vst3".
std::string BundleFromSoPath(const std::string& so)
{
  std::string path = so;
  for (int up = 0; up < 3; ++up)
  {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
      return std::string();
    path.resize(slash);
  }
  return path;
}
}  // namespace

const char* GetModuleBundlePath()
{
  return gBundlePath.c_str();
}

extern "C" {

SMTG_EXPORT_SYMBOL bool ModuleEntry(void* sharedLibraryHandle)
{
  std::lock_guard<std::mutex> lock(gModuleMutex);
  if (++gModuleCounter > 1)
    return true;
  gModuleHandle = sharedLibraryHandle;
  Dl_info info;
  if (dladdr((void*)&ModuleEntry, &info) && info.dli_fname)
    gBundlePath = BundleFromSoPath(info.dli_fname);
  // Every controller asks for the SDK's update handler as it is made, and
  // its singleton is not made safely from several threads at once: hosts
  // that create instances in parallel get it made here, once.
  Steinberg::UpdateHandler::instance();
  return InitModule();
}

SMTG_EXPORT_SYMBOL bool ModuleExit()
{
  std::lock_guard<std::mutex> lock(gModuleMutex);
  // An exit without a matching entry is refused rather than unbalancing
  // the count for the next entry.
  if (gModuleCounter <= 0)
    return false;
  if (--gModuleCounter > 0)
    return true;
  gModuleHandle = nullptr;
  gBundlePath.clear();
  return DeinitModule();
}

}  // extern "C"
