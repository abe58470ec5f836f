// The X11 editor host, in process: a test plug-in's editor in a parent
// window on a private X server, the run loop driven by the test, input sent
// with XTest (from a second thread while a menu or dialog runs modally).

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "GraphicsTestSupport.h"
#include "XvfbSession.h"
#include "graphics/IPopupMenu.h"
#include "kit/KitString.h"
#include "platform/linux/IGraphicsLinux.h"
#include "raster/PxBitmap.h"

namespace {

using Clock = std::chrono::steady_clock;

// The host's loop as the window host sees it, polled by the test.
class PollLoop : public IEditorRunLoop
{
public:
  bool WatchFd(int fd, IEditorRunLoopClient* c) override
  {
    mFd = fd;
    mFdClient = c;
    return true;
  }
  void UnwatchFd(IEditorRunLoopClient*) override { mFdClient = nullptr, mFd = -1; }
  bool StartTimer(int ms, IEditorRunLoopClient* c) override
  {
    mMs = ms;
    mTimer = c;
    mNext = Clock::now() + std::chrono::milliseconds(ms);
    return true;
  }
  void StopTimer(IEditorRunLoopClient*) override { mTimer = nullptr; }

  void RunFor(int ms)
  {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end)
    {
      pollfd p = {mFd, POLLIN, 0};
      if (mFd >= 0 && poll(&p, 1, 5) > 0 && mFdClient) mFdClient->OnRunLoopFd(mFd);
      if (mFd < 0) usleep(5000);
      if (mTimer && Clock::now() >= mNext)
      {
        mNext = Clock::now() + std::chrono::milliseconds(mMs);
        mTimer->OnRunLoopTimer();
      }
    }
  }
  bool Watching() const { return mFdClient != nullptr; }
  bool Ticking() const { return mTimer != nullptr; }
  int Period() const { return mMs; }

private:
  int mFd = -1, mMs = 0;
  IEditorRunLoopClient* mFdClient = nullptr;
  IEditorRunLoopClient* mTimer = nullptr;
  Clock::time_point mNext;
};

// Records every event it gets.
class RecControl : public IControl
{
public:
  RecControl(IFxBase* plug, IRECT r, int param = -1) : IControl(plug, r, param) {}
  bool Draw(IGraphics* g) override
  {
    IColor c(255, 200, 40, 40);
    return g->FillIRect(&c, &mRECT);
  }
  void OnMouseDown(int x, int y, IMouseMod* m) override { Rec("down", x, y, m); }
  void OnMouseUp(int x, int y, IMouseMod* m) override { Rec("up", x, y, m); }
  void OnMouseDblClick(int x, int y, IMouseMod* m) override { Rec("dbl", x, y, m); }
  void OnMouseDrag(int x, int y, int, int, IMouseMod* m) override { Rec("drag", x, y, m); }
  void OnMouseWheel(int x, int y, IMouseMod* m, int d) override { Rec("wheel" + std::to_string(d), x, y, m); }
  bool OnKeyDown(int x, int y, int key) override
  {
    log.push_back("key" + std::to_string(key) + "@" + std::to_string(x) + "," + std::to_string(y));
    return true;
  }
  void TextFromTextEntry(const char* t) override { log.push_back(std::string("text:") + t); }

  void Rec(const std::string& what, int x, int y, IMouseMod* m)
  {
    std::ostringstream s;
    s << what << "@" << x << "," << y << " " << (m->L ? "L" : "") << (m->R ? "R" : "") << (m->S ? "S" : "")
      << (m->C ? "C" : "") << (m->A ? "A" : "");
    log.push_back(s.str());
  }
  std::vector<std::string> log;
};

constexpr int kEdW = 200, kEdH = 120;

class LinuxEditorTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(vst3host::XvfbSession::Shared().Start()); }

  void SetUp() override
  {
    dpy = XOpenDisplay(nullptr);
    ASSERT_NE(nullptr, dpy);
    XSetWindowAttributes a;
    a.override_redirect = True;
    a.background_pixel = 0;
    parent = XCreateWindow(dpy, DefaultRootWindow(dpy), 50, 40, kEdW, kEdH, 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(dpy, parent);
    XSync(dpy, False);

    plug = new TestPlug();
    gui = new IGraphicsLinux(plug, kEdW, kEdH, 0, TestResourceDir().c_str());
    IColor bg(255, 10, 20, 30);
    gui->AttachPanelBackground(&bg);
    rec = new RecControl(plug, IRECT(10, 10, 60, 50));
    gui->AttachControl(rec);
    // Bound to parameters, for prompts; out of the way of the pointer tests.
    gainCtl = new RecControl(plug, IRECT(150, 10, 190, 30), kGain);
    gui->AttachControl(gainCtl);
    modeCtl = new RecControl(plug, IRECT(150, 40, 190, 60), kMode);
    gui->AttachControl(modeCtl);
    plug->AttachGraphics(gui);
    gui->SetHostRunLoop(&loop);
    ASSERT_NE(nullptr, gui->OpenWindow(reinterpret_cast<void*>(parent)));
    loop.RunFor(120);
  }
  void TearDown() override
  {
    delete plug;  // deletes the editor, which closes its window
    XDestroyWindow(dpy, parent);
    XCloseDisplay(dpy);
  }

  // Pointer and keys, in editor coordinates.
  void MoveTo(int x, int y)
  {
    XTestFakeMotionEvent(dpy, DefaultScreen(dpy), 50 + x, 40 + y, 0);
    XSync(dpy, False);
  }
  void Button(unsigned b, bool down)
  {
    XTestFakeButtonEvent(dpy, b, down, 0);
    XSync(dpy, False);
  }
  void Click(int x, int y, unsigned b = 1)
  {
    MoveTo(x, y);
    Button(b, true);
    Button(b, false);
  }
  static void Key(Display* d, KeySym sym, bool shift = false)
  {
    const KeyCode shiftCode = XKeysymToKeycode(d, XK_Shift_L);
    if (shift) XTestFakeKeyEvent(d, shiftCode, True, 0);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), True, 0);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), False, 0);
    if (shift) XTestFakeKeyEvent(d, shiftCode, False, 0);
    XSync(d, False);
  }
  void Type(const char* s)
  {
    for (; *s; ++s)
    {
      const char c = *s;
      KeySym sym = c == '-' ? XK_minus : c == '.' ? XK_period : c == '+' ? XK_plus : (KeySym)(unsigned char)c;
      Key(dpy, sym, c == '+' || (c >= 'A' && c <= 'Z'));
    }
  }
  void Pump(int ms = 80) { loop.RunFor(ms); }

  // Runs fn on a thread of its own with its own connection once cond holds
  // (the modal loop of the editor runs on this thread meanwhile). When fn
  // misses its target (an item not found, a click that lands elsewhere) the
  // menu or box would wait for input forever: whatever is still open after
  // a generous wait is dismissed with Escape, and the test fails on the
  // answer instead of hanging.
  std::thread Driver(std::function<bool()> cond, std::function<void(Display*)> fn)
  {
    return std::thread([cond, fn] {
      const auto end = Clock::now() + std::chrono::seconds(10);
      while (!cond() && Clock::now() < end) usleep(5000);
      usleep(50000);
      Display* d = XOpenDisplay(nullptr);
      fn(d);
      const auto closeBy = Clock::now() + std::chrono::seconds(10);
      while (cond() && Clock::now() < closeBy) usleep(5000);
      for (int i = 0; cond() && i < 50; ++i)
      {
        Key(d, XK_Escape);
        usleep(100000);
      }
      XCloseDisplay(d);
    });
  }
  static void ClickRoot(Display* d, const IRECT& r, unsigned b = 1)
  {
    XTestFakeMotionEvent(d, DefaultScreen(d), (r.L + r.R) / 2, (r.T + r.B) / 2, 0);
    XTestFakeButtonEvent(d, b, True, 0);
    XTestFakeButtonEvent(d, b, False, 0);
    XSync(d, False);
  }

  unsigned WindowPixel(int x, int y)
  {
    XImage* img = XGetImage(dpy, gui->XWindowId(), x, y, 1, 1, AllPlanes, ZPixmap);
    const unsigned p = img ? (unsigned)XGetPixel(img, 0, 0) & 0xFFFFFF : 0xDEADBEEF;
    if (img) XDestroyImage(img);
    return p;
  }
  // The editor draws through its own connection, which the server may serve
  // after this one's next request even though the editor has flushed: wait
  // (up to 2 s) for the pixel rather than read it once. Returns what it saw.
  unsigned WindowPixelOnceDrawn(int x, int y, unsigned expected)
  {
    const auto end = Clock::now() + std::chrono::seconds(2);
    unsigned p = WindowPixel(x, y);
    while (p != expected && Clock::now() < end)
    {
      usleep(2000);
      p = WindowPixel(x, y);
    }
    return p;
  }

  Display* dpy = nullptr;
  Window parent = 0;
  PollLoop loop;
  TestPlug* plug = nullptr;
  IGraphicsLinux* gui = nullptr;
  RecControl* rec = nullptr;
  RecControl* gainCtl = nullptr;
  RecControl* modeCtl = nullptr;
};

TEST(LinuxKeysTest, KeyMapping)
{
  EXPECT_EQ(1, IGraphicsLinux::KeySymToEditorKey(XK_Up));
  EXPECT_EQ(2, IGraphicsLinux::KeySymToEditorKey(XK_Down));
  EXPECT_EQ(3, IGraphicsLinux::KeySymToEditorKey(XK_Left));
  EXPECT_EQ(4, IGraphicsLinux::KeySymToEditorKey(XK_Right));
  EXPECT_EQ(0, IGraphicsLinux::KeySymToEditorKey(XK_space));
  EXPECT_EQ(5, IGraphicsLinux::KeySymToEditorKey(XK_0));
  EXPECT_EQ(10, IGraphicsLinux::KeySymToEditorKey(XK_5));
  EXPECT_EQ(14, IGraphicsLinux::KeySymToEditorKey(XK_9));
  EXPECT_EQ(15, IGraphicsLinux::KeySymToEditorKey(XK_a));
  EXPECT_EQ(15, IGraphicsLinux::KeySymToEditorKey(XK_A));
  EXPECT_EQ(40, IGraphicsLinux::KeySymToEditorKey(XK_z));
  EXPECT_EQ(40, IGraphicsLinux::KeySymToEditorKey(XK_Z));
  EXPECT_EQ(-1, IGraphicsLinux::KeySymToEditorKey(XK_F1));
  EXPECT_EQ(-1, IGraphicsLinux::KeySymToEditorKey(XK_Return));
  EXPECT_EQ(-1, IGraphicsLinux::KeySymToEditorKey(XK_exclam));
}

TEST_F(LinuxEditorTest, WindowTimerAndPixels)
{
  EXPECT_STREQ("X11 GUI", gui->GetGUIAPI());
  EXPECT_TRUE(gui->WindowIsOpen());
  EXPECT_EQ(40, loop.Period());
  XWindowAttributes wa;
  ASSERT_TRUE(XGetWindowAttributes(dpy, gui->XWindowId(), &wa));
  EXPECT_EQ(kEdW, wa.width);
  EXPECT_EQ(kEdH, wa.height);
  // The embedding protocol's info: version 0, flags "mapped".
  Atom info = XInternAtom(dpy, "_XEMBED_INFO", False), type;
  int format = 0;
  unsigned long n = 0, left = 0;
  unsigned char* data = nullptr;
  ASSERT_EQ(Success, XGetWindowProperty(dpy, gui->XWindowId(), info, 0, 2, False, info, &type, &format, &n, &left,
                                        &data));
  ASSERT_EQ(2u, n);
  EXPECT_EQ(32, format);
  EXPECT_EQ(0, reinterpret_cast<long*>(data)[0]);
  EXPECT_EQ(1, reinterpret_cast<long*>(data)[1]);
  XFree(data);

  // The panel and the control, as drawn.
  EXPECT_EQ(0x0A141Eu, WindowPixel(100, 100));
  EXPECT_EQ(0xC82828u, WindowPixelOnceDrawn(10, 10, 0xC82828u));
  EXPECT_EQ(0xC82828u, WindowPixel(59, 49));
  EXPECT_EQ(0x0A141Eu, WindowPixel(60, 50));

  // Only the dirty rectangle goes to the screen: paint the raster behind
  // the editor's back, then let one control's area be copied.
  PxSysBitmap* bm = gui->GetDrawBitmap();
  for (int y = 0; y < kEdH; ++y)
    for (int x = 0; x < kEdW; ++x) bm->getBits()[y * bm->getRowSpan() + x] = 0xFF00FF00u;
  IRECT area(150, 60, 170, 80);
  gui->DrawScreen(&area);
  XSync(dpy, False);
  EXPECT_EQ(0x00FF00u, WindowPixelOnceDrawn(150, 60, 0x00FF00u));
  EXPECT_EQ(0x00FF00u, WindowPixel(169, 79));
  EXPECT_EQ(0x0A141Eu, WindowPixel(149, 60));
  EXPECT_EQ(0x0A141Eu, WindowPixel(170, 79));

  // Someone else paints over the window; the exposure that follows has the
  // editor draw that area again from its controls.
  gui->SetAllControlsDirty();
  Pump(100);
  GC gc = XCreateGC(dpy, gui->XWindowId(), 0, nullptr);
  XSetForeground(dpy, gc, 0x123456);
  XFillRectangle(dpy, gui->XWindowId(), gc, 0, 0, 80, 80);
  XFreeGC(dpy, gc);
  XSync(dpy, False);
  EXPECT_EQ(0x123456u, WindowPixel(30, 30));
  EXPECT_EQ(0x123456u, WindowPixel(70, 70));
  XClearArea(dpy, gui->XWindowId(), 0, 0, 80, 80, True);
  XSync(dpy, False);
  Pump(100);
  EXPECT_EQ(0xC82828u, WindowPixelOnceDrawn(30, 30, 0xC82828u));
  EXPECT_EQ(0x0A141Eu, WindowPixel(70, 70));

  // Closing: the loop is given back and the window goes.
  const Window w = gui->XWindowId();
  gui->CloseWindow();
  EXPECT_FALSE(gui->WindowIsOpen());
  EXPECT_FALSE(loop.Watching());
  EXPECT_FALSE(loop.Ticking());
  XWindowAttributes gone;
  XSync(dpy, False);
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  EXPECT_FALSE(XGetWindowAttributes(dpy, w, &gone));
  XSetErrorHandler(nullptr);
  // Opening needs the host's loop.
  gui->SetHostRunLoop(nullptr);
  EXPECT_EQ(nullptr, gui->OpenWindow(reinterpret_cast<void*>(parent)));
  gui->SetHostRunLoop(&loop);
  EXPECT_NE(nullptr, gui->OpenWindow(reinterpret_cast<void*>(parent)));
}

TEST_F(LinuxEditorTest, MouseButtonsModifiersDoubleClickWheelAndKeys)
{
  Click(20, 30);
  Pump();
  ASSERT_EQ(2u, rec->log.size());
  EXPECT_EQ("down@20,30 L", rec->log[0]);
  EXPECT_EQ("up@20,30 L", rec->log[1]);

  // A second press soon after and close by is a double click, and so is a
  // third (a triple click counts on).
  Click(22, 31);
  Pump(20);
  Click(22, 31);
  Pump();
  ASSERT_EQ(6u, rec->log.size());
  EXPECT_EQ("dbl@22,31 L", rec->log[2]);
  EXPECT_EQ("dbl@22,31 L", rec->log[4]);
  // After a pause, a single click again.
  usleep(500000);
  Click(22, 31);
  Pump();
  ASSERT_EQ(8u, rec->log.size());
  EXPECT_EQ("down@22,31 L", rec->log[6]);
  // Far away is never a double click, however quick.
  rec->log.clear();
  Click(12, 12);
  Click(55, 45);
  Pump();
  ASSERT_EQ(4u, rec->log.size());
  EXPECT_EQ("down@55,45 L", rec->log[2]);

  // Right button and modifiers.
  rec->log.clear();
  usleep(500000);
  Click(30, 20, 3);
  const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L), ctrl = XKeysymToKeycode(dpy, XK_Control_L);
  XTestFakeKeyEvent(dpy, shift, True, 0);
  XTestFakeKeyEvent(dpy, ctrl, True, 0);
  usleep(500000);
  Click(31, 21);
  XTestFakeKeyEvent(dpy, ctrl, False, 0);
  XTestFakeKeyEvent(dpy, shift, False, 0);
  XSync(dpy, False);
  Pump();
  ASSERT_EQ(4u, rec->log.size());
  EXPECT_EQ("down@30,20 R", rec->log[0]);
  EXPECT_EQ("up@30,20 R", rec->log[1]);
  EXPECT_EQ("down@31,21 LSC", rec->log[2]);

  // Drag with the button held.
  rec->log.clear();
  MoveTo(20, 40);
  Button(1, true);
  Pump(30);
  MoveTo(20, 35);
  Pump(30);
  Button(1, false);
  Pump();
  ASSERT_EQ(3u, rec->log.size());
  EXPECT_EQ("drag@20,35 L", rec->log[1]);

  // A burst of moves is one drag to the last place, and moves after the
  // release are not taken into it.
  rec->log.clear();
  usleep(500000);
  MoveTo(20, 40);
  Button(1, true);
  MoveTo(20, 38);
  MoveTo(20, 36);
  MoveTo(20, 34);
  Button(1, false);
  MoveTo(45, 22);
  Pump();
  ASSERT_EQ(3u, rec->log.size());
  EXPECT_EQ("down@20,40 L", rec->log[0]);
  EXPECT_EQ("drag@20,34 L", rec->log[1]);
  EXPECT_EQ("up@20,34 L", rec->log[2]);

  // Wheel: buttons 4 and 6 one step up, 5 and 7 one down.
  rec->log.clear();
  MoveTo(40, 20);
  for (unsigned b : {4u, 5u, 6u, 7u})
  {
    Button(b, true);
    Button(b, false);
  }
  Pump();
  ASSERT_EQ(4u, rec->log.size());
  EXPECT_EQ("wheel1@40,20 L", rec->log[0]);
  EXPECT_EQ("wheel-1@40,20 L", rec->log[1]);
  EXPECT_EQ("wheel1@40,20 L", rec->log[2]);
  EXPECT_EQ("wheel-1@40,20 L", rec->log[3]);

  // Keys arrive at the last mouse position: 'a' and 'A' are 15, '5' is 10,
  // an arrow with Shift still maps by key.
  rec->log.clear();
  MoveTo(33, 44);
  Pump(30);
  Key(dpy, XK_a);
  Key(dpy, XK_a, true);
  Key(dpy, XK_5);
  Key(dpy, XK_Up, true);
  Key(dpy, XK_F2);
  Pump();
  ASSERT_EQ(4u, rec->log.size());
  EXPECT_EQ("key15@33,44", rec->log[0]);
  EXPECT_EQ("key15@33,44", rec->log[1]);
  EXPECT_EQ("key10@33,44", rec->log[2]);
  EXPECT_EQ("key1@33,44", rec->log[3]);
}

TEST_F(LinuxEditorTest, TextEntryTypedFilteredAndApplied)
{
  IParam* gain = plug->ParamAt(kGain);
  IRECT r(20, 60, 120, 80);
  gui->CreateTextEntry(gainCtl, gainCtl->GetText(), &r, "0.0", gain);
  ASSERT_TRUE(gui->IsTextEntryOpen());
  EXPECT_EQ("0.0", gui->TextEntryString());
  // One field at a time.
  gui->CreateTextEntry(rec, rec->GetText(), &r, "other", nullptr);
  EXPECT_EQ("0.0", gui->TextEntryString());

  // The field is drawn with the entry colours (white background).
  XSync(dpy, False);
  EXPECT_EQ(0xFFFFFFu, WindowPixelOnceDrawn(118, 62, 0xFFFFFFu));

  Key(dpy, XK_BackSpace);
  Key(dpy, XK_BackSpace);
  Key(dpy, XK_BackSpace);
  Type("x-1A2.5e");  // letters refused for a number
  Pump();
  EXPECT_EQ("-12.5", gui->TextEntryString());
  Key(dpy, XK_Return);
  Pump();
  EXPECT_FALSE(gui->IsTextEntryOpen());
  EXPECT_NEAR(-12.5, gain->GetValue(), 1e-12);
  EXPECT_EQ(1, plug->Count("edit 0"));

  // At most the control's entry length (7) characters.
  gui->CreateTextEntry(gainCtl, gainCtl->GetText(), &r, "", gain);
  Type("123456789");
  Pump();
  EXPECT_EQ("1234567", gui->TextEntryString());
  // Escape closes without applying.
  Key(dpy, XK_Escape);
  Pump();
  EXPECT_FALSE(gui->IsTextEntryOpen());
  EXPECT_NEAR(-12.5, gain->GetValue(), 1e-12);

  // The wheel closes it without applying, and still scrolls.
  gui->CreateTextEntry(gainCtl, gainCtl->GetText(), &r, "", gain);
  Type("3");
  MoveTo(30, 20);
  Button(4, true);
  Button(4, false);
  Pump();
  EXPECT_FALSE(gui->IsTextEntryOpen());
  EXPECT_NEAR(-12.5, gain->GetValue(), 1e-12);

  // A click elsewhere applies. Integer and enumerated parameters take no point.
  IParam* mode = plug->ParamAt(kMode);
  gui->CreateTextEntry(modeCtl, modeCtl->GetText(), &r, "", mode);
  Type("2.");
  Pump();
  EXPECT_EQ("2", gui->TextEntryString());
  Click(150, 100);
  Pump();
  EXPECT_FALSE(gui->IsTextEntryOpen());
  // No display text reads "2": the first entry, as for any unknown text.
  EXPECT_EQ(0, (int)mode->GetValue());

  // A value field opens on the value selected: a refused key keeps it, the
  // first key taken replaces it, an arrow key keeps it and moves the caret.
  gui->CreateTextEntry(gainCtl, gainCtl->GetText(), &r, "-3.0", gain);
  Type("x");
  Pump();
  EXPECT_EQ("-3.0", gui->TextEntryString());
  Type("6");
  Pump();
  EXPECT_EQ("6", gui->TextEntryString());
  Key(dpy, XK_Escape);
  Pump();
  gui->CreateTextEntry(gainCtl, gainCtl->GetText(), &r, "-3.0", gain);
  Key(dpy, XK_Left);
  Type("5");
  Pump();
  EXPECT_EQ("-3.50", gui->TextEntryString());
  Key(dpy, XK_Escape);
  Pump();

  // Without a parameter the control gets the text as typed.
  gui->CreateTextEntry(rec, rec->GetText(), &r, "ab", nullptr);
  Type("Cd");
  Key(dpy, XK_Return);
  Pump();
  ASSERT_FALSE(rec->log.empty());
  EXPECT_EQ("text:abCd", rec->log.back());
}

TEST_F(LinuxEditorTest, PopupMenuChosenByClickKeysOrDismissed)
{
  // The editor's own prompt for an enumerated parameter: a click on the
  // third item selects it.
  IParam* mode = plug->ParamAt(kMode);
  ASSERT_EQ(1, (int)mode->GetValue());
  IRECT r(10, 10, 60, 50);
  std::thread t = Driver([&] { return gui->IsMenuOpen(); }, [&](Display* d) {
    IRECT item;
    if (gui->MenuItemScreenRect(0, 2, &item))
      ClickRoot(d, item);
    else
      Key(d, XK_Escape);  // no target: dismiss, and fail on the answer
  });
  gui->PromptUserInput(modeCtl, mode, &r);
  t.join();
  EXPECT_FALSE(gui->IsMenuOpen());
  EXPECT_EQ(2, (int)mode->GetValue());

  // Items open below the rectangle.
  IPopupMenu menu;
  menu.AddItem("alpha");
  menu.AddSeparator();
  IPopupMenu sub;
  sub.AddItem("x");
  sub.AddItem("y");
  menu.AddItem("more", &sub);
  menu.AddItem("off", -1, IPopupMenuItem::kDisabled);
  IRECT top;
  t = Driver([&] { return gui->IsMenuOpen(); }, [&](Display* d) {
    gui->MenuItemScreenRect(0, 0, &top);
    // Down: alpha; Down: over the separator to "more"; Right: into the
    // submenu at "x"; Down: "y"; Return.
    for (KeySym k : {XK_Down, XK_Down, XK_Right, XK_Down, XK_Return})
    {
      Key(d, k);
      usleep(30000);
    }
  });
  IPopupMenu* chosen = gui->CreateIPopupMenu(&menu, &r);
  t.join();
  EXPECT_EQ(&sub, chosen);
  EXPECT_EQ(1, sub.GetChosenItemIdx());
  EXPECT_EQ(50 + 10, top.L) << top.L << " " << top.T << " " << top.R << " " << top.B;
  EXPECT_EQ(40 + 50 + 2, top.T);  // inside a 2-pixel frame

  // A click on a disabled item chooses nothing; Escape then dismisses.
  IPopupMenu plain;
  plain.AddItem("one");
  plain.AddItem("two", -1, IPopupMenuItem::kDisabled);
  t = Driver([&] { return gui->IsMenuOpen(); }, [&](Display* d) {
    IRECT item;
    if (gui->MenuItemScreenRect(0, 1, &item)) ClickRoot(d, item);
    usleep(50000);
    Key(d, XK_Escape);
  });
  EXPECT_EQ(nullptr, gui->CreateIPopupMenu(&plain, &r));
  t.join();
  EXPECT_EQ(-1, plain.GetChosenItemIdx());

  // A press outside dismisses.
  t = Driver([&] { return gui->IsMenuOpen(); }, [&](Display* d) { ClickRoot(d, IRECT(900, 900, 902, 902)); });
  EXPECT_EQ(nullptr, gui->CreateIPopupMenu(&plain, &r));
  t.join();
  EXPECT_EQ(2, (int)mode->GetValue());
}

TEST_F(LinuxEditorTest, MessageBoxButtonsAndAnswers)
{
  // Return takes the default button.
  std::thread t = Driver([&] { return gui->IsMessageBoxOpen(); }, [&](Display* d) { Key(d, XK_Return); });
  EXPECT_EQ(1, gui->ShowMessageBox("Saved.", "Tavlo", 0));
  t.join();
  // Yes/No: "No" is the alternate button, 7.
  t = Driver([&] { return gui->IsMessageBoxOpen(); }, [&](Display* d) {
    IRECT b;
    if (gui->MessageBoxButtonScreenRect(1, &b))
      ClickRoot(d, b);
    else
      Key(d, XK_Escape);  // no target: dismiss, and fail on the answer
  });
  EXPECT_EQ(7, gui->ShowMessageBox("Replace it?", "Tavlo", 4));
  t.join();
  // Yes/No/Cancel: "Cancel" is the other button, 2; "Yes" is 1.
  t = Driver([&] { return gui->IsMessageBoxOpen(); }, [&](Display* d) {
    IRECT b;
    if (gui->MessageBoxButtonScreenRect(2, &b))
      ClickRoot(d, b);
    else
      Key(d, XK_Escape);  // no target: dismiss, and fail on the answer
  });
  EXPECT_EQ(2, gui->ShowMessageBox("Keep?", "Tavlo", 3));
  t.join();
  t = Driver([&] { return gui->IsMessageBoxOpen(); }, [&](Display* d) {
    IRECT b;
    if (gui->MessageBoxButtonScreenRect(0, &b))
      ClickRoot(d, b);
    else
      Key(d, XK_Escape);  // no target: dismiss, and fail on the answer
  });
  EXPECT_EQ(1, gui->ShowMessageBox("Keep?", "Tavlo", 3));
  t.join();
}

// A scratch folder with fake desktop programs, put first on PATH.
struct FakePrograms
{
  std::string dir, oldPath;
  FakePrograms()
  {
    char tmpl[] = "/tmp/tavlo-x11-XXXXXX";
    dir = mkdtemp(tmpl);
    oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir + ":/usr/bin:/bin").c_str(), 1);
  }
  ~FakePrograms()
  {
    setenv("PATH", oldPath.c_str(), 1);
    std::string cmd = "rm -rf '" + dir + "'";
    (void)system(cmd.c_str());
  }
  void Add(const std::string& name, const std::string& body)
  {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
  }
  // Only the fake programs: no real dialog program can be found.
  void Isolate() { setenv("PATH", dir.c_str(), 1); }
};

std::string ReadFile(const std::string& path)
{
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(LinuxEditorTest, FilePromptThroughDialogProgram)
{
  FakePrograms fake;
  const std::string chosen = fake.dir + "/take.fxp";
  std::ofstream(chosen) << "x";
  fake.Add("zenity", "echo \"$@\" > '" + fake.dir + "/args'\necho '" + chosen + "'");

  KitString file("old.fxp"), dir("");
  gui->PromptForFile(&file, kFileOpen, &dir, "fxp fxb");
  EXPECT_STREQ(chosen.c_str(), file.Get());
  EXPECT_STREQ((fake.dir + "/").c_str(), dir.Get());
  const std::string args = ReadFile(fake.dir + "/args");
  EXPECT_NE(std::string::npos, args.find("--file-selection"));
  EXPECT_NE(std::string::npos, args.find("/Desktop/old.fxp"));
  EXPECT_NE(std::string::npos, args.find("*.fxp *.fxb"));
  EXPECT_EQ(std::string::npos, args.find("--save"));

  // Save asks for a save dialog; a cancelled dialog (status 1) leaves the name empty.
  fake.Add("zenity", "echo \"$@\" > '" + fake.dir + "/args'\nexit 1");
  file.Set("a.fxp");
  gui->PromptForFile(&file, kFileSave, &dir, "fxp");
  EXPECT_STREQ("", file.Get());
  EXPECT_NE(std::string::npos, ReadFile(fake.dir + "/args").find("--save"));

  // An open dialog answering a folder or a missing file chooses nothing.
  fake.Add("zenity", "echo '" + fake.dir + "'");
  gui->PromptForFile(&file, kFileOpen, &dir, "");
  EXPECT_STREQ("", file.Get());

  // No dialog program at all: empty, as without a window.
  fake.Isolate();
  unlink((fake.dir + "/zenity").c_str());
  file.Set("keep.fxp");
  gui->PromptForFile(&file, kFileOpen, &dir, "");
  EXPECT_STREQ("", file.Get());
  gui->CloseWindow();
  file.Set("keep.fxp");
  gui->PromptForFile(&file, kFileOpen, &dir, "");
  EXPECT_STREQ("", file.Get());
}

TEST_F(LinuxEditorTest, OpenURLHandsWebAndFileURLsToXdgOpen)
{
  FakePrograms fake;
  const std::string out = fake.dir + "/opened";
  fake.Add("xdg-open", "echo \"$1\" >> '" + out + "'");
  EXPECT_TRUE(gui->OpenURL("https://quillmarshworks.example/tavlo"));
  EXPECT_TRUE(gui->OpenURL("/tmp/Tavlo manual.pdf"));
  // Nothing that could be a URL: true, and nothing is opened.
  EXPECT_TRUE(gui->OpenURL("relative/thing"));
  std::string got;
  for (int i = 0; i < 100 && std::count(got.begin(), got.end(), '\n') < 2; ++i)
  {
    usleep(20000);
    got = ReadFile(out);
  }
  EXPECT_NE(std::string::npos, got.find("https://quillmarshworks.example/tavlo\n"));
  EXPECT_NE(std::string::npos, got.find("file:///tmp/Tavlo manual.pdf\n"));
  EXPECT_EQ(std::string::npos, got.find("relative"));
  // No opener installed: a failure, not a pretended success.
  fake.Isolate();
  unlink((fake.dir + "/xdg-open").c_str());
  EXPECT_FALSE(gui->OpenURL("https://quillmarshworks.example"));
}

TEST_F(LinuxEditorTest, ClipboardText)
{
  KitString s("stale");
  EXPECT_FALSE(gui->GetTextFromClipboard(&s));
  EXPECT_STREQ("", s.Get());

  // Another client owns CLIPBOARD and answers with UTF-8 text.
  std::atomic<bool> owning{false}, stop{false};
  std::thread owner([&] {
    Display* d = XOpenDisplay(nullptr);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    Atom clip = XInternAtom(d, "CLIPBOARD", False), utf8 = XInternAtom(d, "UTF8_STRING", False);
    XSetSelectionOwner(d, clip, w, CurrentTime);
    XSync(d, False);
    owning = true;
    const char text[] = "-6.5 d\xC3\xA9";
    while (!stop)
    {
      while (XPending(d))
      {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type != SelectionRequest) continue;
        XSelectionRequestEvent& rq = ev.xselectionrequest;
        XSelectionEvent reply = {};
        reply.type = SelectionNotify;
        reply.requestor = rq.requestor;
        reply.selection = rq.selection;
        reply.target = rq.target;
        reply.time = rq.time;
        reply.property = None;
        if (rq.target == utf8)
        {
          XChangeProperty(d, rq.requestor, rq.property, utf8, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(text), (int)sizeof(text) - 1);
          reply.property = rq.property;
        }
        XSendEvent(d, rq.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
        XFlush(d);
      }
      usleep(2000);
    }
    XDestroyWindow(d, w);
    XCloseDisplay(d);
  });
  while (!owning) usleep(1000);
  EXPECT_TRUE(gui->GetTextFromClipboard(&s));
  EXPECT_STREQ("-6.5 d\xC3\xA9", s.Get());
  // Also without an open window.
  gui->CloseWindow();
  s.Set("");
  EXPECT_TRUE(gui->GetTextFromClipboard(&s));
  EXPECT_STREQ("-6.5 d\xC3\xA9", s.Get());
  stop = true;
  owner.join();
}

TEST_F(LinuxEditorTest, PathsImagesCursorAndResize)
{
  FakePrograms fake;  // a scratch home
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", fake.dir.c_str(), 1);
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
  KitString p;
  gui->SandboxSafeAppSupportPath(&p);
  EXPECT_STREQ((fake.dir + "/Music").c_str(), p.Get());
  gui->AppSupportPath(&p, false);
  EXPECT_STREQ((fake.dir + "/.local/share").c_str(), p.Get());
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  gui->AppSupportPath(&p, false);
  EXPECT_STREQ("/srv/data", p.Get());
  unsetenv("XDG_DATA_HOME");
  setenv("XDG_DATA_DIRS", "/opt/share:/usr/share", 1);
  gui->AppSupportPath(&p, true);
  EXPECT_STREQ("/opt/share", p.Get());
  gui->DesktopPath(&p);
  EXPECT_STREQ((fake.dir + "/Desktop").c_str(), p.Get());
  mkdir((fake.dir + "/.config").c_str(), 0755);
  std::ofstream(fake.dir + "/.config/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                                         "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
  gui->DesktopPath(&p);
  EXPECT_STREQ((fake.dir + "/Schreibtisch").c_str(), p.Get());
  setenv("HOME", oldHome.c_str(), 1);

  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  gui->HostPath(&p);
  EXPECT_STREQ(exe, p.Get());
  // Outside a bundle: the folder of the code's own file.
  gui->PluginPath(&p);
  std::string folder(exe);
  folder = folder.substr(0, folder.rfind('/') + 1);
  EXPECT_STREQ(folder.c_str(), p.Get());

  // Images: PNG in any case, by file name in the resource folder.
  PxIBitmap* img = gui->OSLoadBitmap(1, "resources/img/bg.PNG");
  ASSERT_NE(nullptr, img);
  EXPECT_EQ(100, img->getWidth());
  delete img;
  EXPECT_EQ(nullptr, gui->OSLoadBitmap(1, "bg.jpg"));
  EXPECT_EQ(nullptr, gui->OSLoadBitmap(1, "missing.png"));
  EXPECT_EQ(nullptr, gui->OSLoadBitmap(1, "png"));

  // The cursor goes back to where it was hidden.
  MoveTo(30, 30);
  gui->HideMouseCursor();
  EXPECT_TRUE(gui->IsMouseCursorHidden());
  MoveTo(150, 100);
  gui->ShowMouseCursor();
  EXPECT_FALSE(gui->IsMouseCursorHidden());
  Window root, child;
  int rx, ry, wx, wy;
  unsigned mask;
  XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
  EXPECT_EQ(50 + 30, rx);
  EXPECT_EQ(40 + 30, ry);

  // Resize: the window follows the editor; the same size does nothing.
  gui->Resize(kEdW, kEdH);
  EXPECT_EQ(0, plug->Count("resize"));
  gui->Resize(150, 90);
  XSync(dpy, False);
  XWindowAttributes wa;
  XGetWindowAttributes(dpy, gui->XWindowId(), &wa);
  EXPECT_EQ(150, wa.width);
  EXPECT_EQ(90, wa.height);
  EXPECT_EQ(1, plug->Count("resize 150 90"));
}

}  // namespace

namespace {

TEST_F(LinuxEditorTest, UnusedKeysGoToTheHostWindow)
{
  XSelectInput(dpy, parent, KeyPressMask);
  XSync(dpy, False);
  // Over the background nothing takes keys; F2 is no editor key at all.
  MoveTo(100, 100);
  Click(100, 100);
  Pump(40);
  Key(dpy, XK_a);
  Key(dpy, XK_F2);
  Pump();
  std::vector<KeySym> got;
  while (XPending(dpy))
  {
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type == KeyPress && ev.xkey.window == parent) got.push_back(XLookupKeysym(&ev.xkey, 0));
  }
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ((KeySym)XK_a, got[0]);
  EXPECT_EQ((KeySym)XK_F2, got[1]);
  // A key the control takes stays in the editor.
  MoveTo(20, 20);
  Pump(40);
  Key(dpy, XK_b);
  Pump();
  EXPECT_EQ("key16@20,20", rec->log.back());
  int forwarded = 0;
  while (XPending(dpy))
  {
    XEvent ev;
    XNextEvent(dpy, &ev);
    forwarded += ev.type == KeyPress;
  }
  EXPECT_EQ(0, forwarded);
}

// A host's window that hands every key it gets back to the editor (as a
// toolkit passing keys on to an embedded window does): each key still
// reaches it once, and the keyboard stays with it after a click in the
// editor; only the text entry takes the keyboard, and gives it back.
TEST_F(LinuxEditorTest, KeysReachAnEchoingHostOnceAndTheHostKeepsTheKeyboard)
{
  XSelectInput(dpy, parent, KeyPressMask);
  XSetInputFocus(dpy, parent, RevertToPointerRoot, CurrentTime);
  MoveTo(100, 100);
  Click(100, 100);
  Pump(40);
  auto focus = [&] {
    Window f = None;
    int revert = 0;
    XGetInputFocus(dpy, &f, &revert);
    return f;
  };
  EXPECT_EQ(parent, focus());

  const KeySym keys[] = {XK_Control_L, XK_Shift_L, XK_Alt_L, XK_F12, XK_a};
  for (KeySym k : keys) Key(dpy, k);
  std::vector<KeySym> got;
  for (int round = 0; round < 40; ++round)
  {
    Pump(10);
    while (XPending(dpy))
    {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type != KeyPress || ev.xkey.window != parent) continue;
      got.push_back(XLookupKeysym(&ev.xkey, 0));
      ev.xkey.window = gui->XWindowId();
      XSendEvent(dpy, gui->XWindowId(), False, KeyPressMask, &ev);
      XFlush(dpy);
    }
  }
  EXPECT_EQ(std::vector<KeySym>(std::begin(keys), std::end(keys)), got);

  // The field has the keyboard while open, the host again once it closes.
  IRECT r(20, 60, 120, 80);
  gui->CreateTextEntry(gainCtl, gainCtl->GetText(), &r, "", plug->ParamAt(kGain));
  EXPECT_EQ(gui->XWindowId(), focus());
  MoveTo(190, 110);  // the pointer elsewhere does not matter
  Type("5");
  Pump();
  EXPECT_EQ("5", gui->TextEntryString());
  Key(dpy, XK_Escape);
  Pump();
  EXPECT_FALSE(gui->IsTextEntryOpen());
  EXPECT_EQ(parent, focus());
  XSetInputFocus(dpy, PointerRoot, RevertToPointerRoot, CurrentTime);
  XSync(dpy, False);
}

// A host that makes the window larger than the editor: the editor stays at
// the top left and the rest shows the surround colour (here the panel's),
// not what was on the screen there before.
TEST_F(LinuxEditorTest, WindowLargerThanTheEditorIsPaintedWhole)
{
  XResizeWindow(dpy, parent, 2 * kEdW, 2 * kEdH);
  XSetWindowBackground(dpy, parent, 0xFF00FF);
  XClearWindow(dpy, parent);
  XSync(dpy, False);
  XResizeWindow(dpy, gui->XWindowId(), 2 * kEdW, 2 * kEdH);
  XSync(dpy, False);
  Pump(150);
  EXPECT_EQ(0x0A141Eu, WindowPixelOnceDrawn(2 * kEdW - 1, 2 * kEdH - 1, 0x0A141Eu));
  EXPECT_EQ(0x0A141Eu, WindowPixel(kEdW, 0));
  EXPECT_EQ(0x0A141Eu, WindowPixel(0, kEdH));
  EXPECT_EQ(0x0A141Eu, WindowPixel(kEdW + 30, kEdH / 2));
  EXPECT_EQ(0x0A141Eu, WindowPixel(kEdW / 2, kEdH + 30));
  EXPECT_EQ(0xC82828u, WindowPixel(10, 10));
  EXPECT_EQ(0x0A141Eu, WindowPixel(kEdW - 1, kEdH - 1));
}

TEST_F(LinuxEditorTest, TooltipAppearsWhenEnabled)
{
  rec->SetTooltip("Threshold and drive");
  // Off by default: nothing, however long the pointer rests.
  MoveTo(30, 30);
  Pump(700);
  EXPECT_FALSE(gui->IsTooltipShown());
  gui->EnableTooltips(true);
  gui->UpdateTooltips();
  MoveTo(31, 31);
  Pump(700);
  EXPECT_TRUE(gui->IsTooltipShown());
  // Moving off the control hides it.
  MoveTo(120, 100);
  Pump(100);
  EXPECT_FALSE(gui->IsTooltipShown());
}

}  // namespace

namespace {

// What a menu shows: numbering widens it, a checked item carries a mark in
// the left column, a separator is a thin row, a disabled item is grey.
TEST_F(LinuxEditorTest, PopupMenuLooks)
{
  IRECT r(10, 10, 60, 50);
  auto measure = [&](int prefix, IRECT* first, IRECT* sep, std::vector<unsigned>* checkColumn,
                     std::vector<unsigned>* disabledRow, std::vector<unsigned>* plainRow) {
    IPopupMenu m;
    m.AddItem("Soft");
    m.AddSeparator();
    m.AddItem("Medium", -1, IPopupMenuItem::kChecked);
    m.AddItem("Hard", -1, IPopupMenuItem::kDisabled);
    m.AddItem("Hardest");
    m.SetPrefix(prefix);
    std::thread t = Driver([&] { return gui->IsMenuOpen(); }, [&](Display* d) {
      IRECT item;
      gui->MenuItemScreenRect(0, 0, first);
      gui->MenuItemScreenRect(0, 1, sep);
      auto grab = [&](int idx, int x0, int x1, std::vector<unsigned>* out) {
        if (!out || !gui->MenuItemScreenRect(0, idx, &item)) return;
        XImage* img = XGetImage(d, DefaultRootWindow(d), item.L + x0, item.T, (unsigned)(x1 - x0),
                                (unsigned)item.H(), AllPlanes, ZPixmap);
        for (int y = 0; y < item.H(); ++y)
          for (int x = 0; x < x1 - x0; ++x) out->push_back((unsigned)XGetPixel(img, x, y) & 0xFFFFFF);
        XDestroyImage(img);
      };
      grab(2, 2, 16, checkColumn);
      grab(3, 18, 60, disabledRow);
      grab(4, 18, 60, plainRow);
      Key(d, XK_Escape);
    });
    EXPECT_EQ(nullptr, gui->CreateIPopupMenu(&m, &r));
    t.join();
  };
  IRECT plainFirst, plainSep, numFirst, numSep;
  std::vector<unsigned> checkCol, disabledRow, plainRow;
  measure(0, &plainFirst, &plainSep, &checkCol, &disabledRow, &plainRow);
  measure(3, &numFirst, &numSep, nullptr, nullptr, nullptr);

  // "001: " before every text makes the menu wider.
  EXPECT_GT(numFirst.W(), plainFirst.W() + 15);
  EXPECT_LT(plainSep.H(), plainFirst.H());
  // The mark of the checked item: dark pixels on the light menu.
  int dark = 0;
  for (unsigned p : checkCol) dark += (p & 0xFF) < 0x60;
  EXPECT_GT(dark, 8);
  // Disabled text is grey, never as dark as an enabled item's.
  unsigned darkestDisabled = 0xFF, darkestPlain = 0xFF;
  for (unsigned p : disabledRow) darkestDisabled = std::min(darkestDisabled, p & 0xFF);
  for (unsigned p : plainRow) darkestPlain = std::min(darkestPlain, p & 0xFF);
  EXPECT_LT(darkestPlain, 0x40u);
  EXPECT_GT(darkestDisabled, 0x80u);
  EXPECT_LT(darkestDisabled, 0xE0u);  // but something is drawn
}

}  // namespace
