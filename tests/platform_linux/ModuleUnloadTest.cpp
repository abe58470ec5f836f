// Modules that draw text, loaded, used and unloaded as a host does: while
// loaded the editor's text comes from the bundle's own font files; once
// unloaded no font file stays mapped and, in the sanitizer build, nothing
// the module allocated (in FreeType or fontconfig either) is left behind.
// This program links neither library, as many hosts do not.

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "TestPlugFrame.h"
#include "XvfbSession.h"
#include "host/Vst3Host.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __lsan_do_recoverable_leak_check();
#endif

namespace vst3host {
namespace {

constexpr unsigned char kTavloCid[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                         0x51, 0x75, 0x69, 0x6C, 0x54, 0x61, 0x76, 0x31};

// Font files mapped into this process (FreeType maps the files it opens).
std::vector<std::string> MappedFonts()
{
  std::vector<std::string> out;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
  {
    const size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".ttf") == 0) out.push_back(path);
  }
  return out;
}

// Leaked blocks as the leak checker sees them now (0 outside the sanitizer build).
int Leaks()
{
#if defined(__SANITIZE_ADDRESS__)
  return __lsan_do_recoverable_leak_check();
#else
  return 0;
#endif
}

TEST(ModuleUnload, TextThroughFontconfigLeavesNothingBehind)
{
  ASSERT_EQ(0, Leaks()) << "leaks before the module was loaded";
  void* probe = dlopen(TAVLO_TEXT_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, probe) << dlerror();
  auto text = reinterpret_cast<int (*)(const char*, int)>(dlsym(probe, "TavloProbeText"));
  ASSERT_NE(nullptr, text);
  // A face the bundle carries, one only fontconfig knows, one nobody has.
  EXPECT_GT(text("Monaco", 0), 0);
  EXPECT_GT(text("DejaVu Serif", 1), 0);
  EXPECT_GT(text("No Such Face 123", 0), 0);
  EXPECT_GT(text("serif", 0), 0);
  ASSERT_EQ(0, dlclose(probe));
  EXPECT_EQ(std::vector<std::string>(), MappedFonts());
  EXPECT_EQ(0, Leaks());
}

TEST(ModuleUnload, EditorTextComesFromTheBundleAndNothingStays)
{
  ASSERT_TRUE(XvfbSession::Shared().Start()) << XvfbSession::Shared().Error();
  ASSERT_EQ(0, Leaks()) << "leaks before the module was loaded";
  Display* dpy = XOpenDisplay(nullptr);
  ASSERT_NE(nullptr, dpy);
  XSetWindowAttributes a;
  a.override_redirect = True;
  Window parent = XCreateWindow(dpy, DefaultRootWindow(dpy), 0, 0, 786, 483, 0, CopyFromParent, InputOutput,
                                CopyFromParent, CWOverrideRedirect, &a);
  XMapRaised(dpy, parent);
  XSync(dpy, False);

  std::vector<std::string> whileOpen;
  {
    Module module(TAVLO_BUNDLE_PATH);
    ASSERT_TRUE(module.IsLoaded()) << module.Error();
    TUID cid;
    memcpy(cid, kTavloCid, sizeof(cid));
    HostApplication app;
    Instance inst(module.Factory(), cid);
    ASSERT_TRUE(inst);
    ASSERT_EQ(kResultOk, inst.component->initialize(&app));
    IPlugView* view = inst.controller->createView("editor");
    ASSERT_NE(nullptr, view);
    PlugFrame frame;
    view->setFrame(&frame);
    ASSERT_EQ(kResultOk, view->attached(reinterpret_cast<void*>(parent), kPlatformTypeX11EmbedWindowID));
    frame.RunFor(300);  // the first paint draws the version line
    whileOpen = MappedFonts();
    view->removed();
    view->setFrame(nullptr);
    view->release();
    inst.component->terminate();
    inst.Reset();
  }
  XDestroyWindow(dpy, parent);
  XCloseDisplay(dpy);

  // The version line's face and the readouts', from the bundle whatever
  // fontconfig would pick.
  std::sort(whileOpen.begin(), whileOpen.end());
  const std::string res = std::string(TAVLO_BUNDLE_PATH) + "/Contents/Resources/";
  EXPECT_EQ((std::vector<std::string>{res + "DejaVuSans-Bold.ttf", res + "DejaVuSansMono.ttf"}), whileOpen);
  EXPECT_EQ(std::vector<std::string>(), MappedFonts());
  EXPECT_EQ(0, Leaks());
}

}  // namespace
}  // namespace vst3host
