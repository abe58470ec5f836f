// Tavlo.clap's editor in a host's X11 window on a private X server,
// driven by the host's timer as a CLAP host drives it, with XTest for the
// mouse: it opens and closes with the host's GUI, has the sizes of its
// scales, and an edit reaches the host as a gesture of parameter events.

#include <gtest/gtest.h>
#include <time.h>

#include <functional>

#include "ClapBindingHost.h"
#include "XvfbSession.h"
// After gtest: Xlib's macros (None, Bool) would break its headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "X11Children.h"

using namespace clapbinding;

namespace {

// The Input knob at scale 1, in the editor's pixels.
constexpr int kInputL = 127, kInputT = 279, kInputSize = 146;
constexpr int kEditorW = 786, kEditorH = 483;

class ClapBindingGuiTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    ASSERT_TRUE(vst3host::XvfbSession::Shared().Start()) << vst3host::XvfbSession::Shared().Error();
    ASSERT_TRUE(Module().factory) << Module().error;
  }
  void SetUp() override
  {
    mDpy = XOpenDisplay(nullptr);
    ASSERT_NE(nullptr, mDpy);
    int ev, err, maj, min;
    ASSERT_TRUE(XTestQueryExtension(mDpy, &ev, &err, &maj, &min));
  }
  void TearDown() override
  {
    if (mParent) XDestroyWindow(mDpy, mParent);
    if (mDpy) XCloseDisplay(mDpy);
  }

  Window MakeParent()
  {
    XSetWindowAttributes a;
    a.override_redirect = True;
    mParent = XCreateWindow(mDpy, DefaultRootWindow(mDpy), 0, 0, 2 * kEditorW, 2 * kEditorH, 0, CopyFromParent,
                            InputOutput, CopyFromParent, CWOverrideRedirect, &a);
    XMapRaised(mDpy, mParent);
    XSync(mDpy, False);
    return mParent;
  }

  // Fires the plug-in's timers, as the host's loop does, until done() or
  // two seconds have passed.
  static bool Pump(ClapPlug& c, const std::function<bool()>& done)
  {
    const auto* timer = static_cast<const clap_plugin_timer_support_t*>(c.p->get_extension(c.p, CLAP_EXT_TIMER_SUPPORT));
    for (int i = 0; i < 200; ++i)
    {
      for (const auto& t : std::vector<std::pair<clap_id, uint32_t>>(c.host.log.timers)) timer->on_timer(c.p, t.first);
      if (done()) return true;
      timespec ts = {0, 10 * 1000 * 1000};
      nanosleep(&ts, nullptr);
    }
    return done();
  }

  void MoveTo(int x, int y)
  {
    int rx, ry;
    Window child;
    XTranslateCoordinates(mDpy, mParent, DefaultRootWindow(mDpy), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(mDpy, DefaultScreen(mDpy), rx, ry, 0);
    XSync(mDpy, False);
  }
  void Button(bool down)
  {
    XTestFakeButtonEvent(mDpy, 1, down ? True : False, 0);
    XSync(mDpy, False);
  }
  bool Shown(ClapPlug& c)
  {
    return Pump(c,
                [&]
                {
                  const std::vector<Window> kids = X11Children(mDpy, mParent);
                  XWindowAttributes wa;
                  return kids.size() == 1 && XGetWindowAttributes(mDpy, kids[0], &wa) && wa.map_state == IsViewable;
                });
  }

  Display* mDpy = nullptr;
  Window mParent = 0;
};

const clap_plugin_gui_t* Gui(ClapPlug& c)
{
  return static_cast<const clap_plugin_gui_t*>(c.p->get_extension(c.p, CLAP_EXT_GUI));
}

TEST_F(ClapBindingGuiTest, EmbeddedInTheHostsWindowWhileTheHostsGuiExists)
{
  {
    ClapPlug bare(false);
    const clap_plugin_gui_t* gui = Gui(bare);
    ASSERT_NE(nullptr, gui);
    EXPECT_FALSE(gui->create(bare.p, CLAP_WINDOW_API_X11, false)) << "no editor without the host's timer";
  }
  ClapPlug c;
  const clap_plugin_gui_t* gui = Gui(c);
  ASSERT_NE(nullptr, gui);
  EXPECT_TRUE(gui->is_api_supported(c.p, CLAP_WINDOW_API_X11, false));
  EXPECT_FALSE(gui->is_api_supported(c.p, CLAP_WINDOW_API_X11, true));
  EXPECT_FALSE(gui->is_api_supported(c.p, CLAP_WINDOW_API_WAYLAND, false));
  EXPECT_FALSE(gui->can_resize(c.p));
  uint32_t w = 0, h = 0;
  EXPECT_FALSE(gui->get_size(c.p, &w, &h)) << "no editor before create";

  ASSERT_TRUE(gui->create(c.p, CLAP_WINDOW_API_X11, false));
  EXPECT_FALSE(gui->create(c.p, CLAP_WINDOW_API_X11, false)) << "one GUI at a time";
  ASSERT_TRUE(gui->set_scale(c.p, 2.0));
  ASSERT_TRUE(gui->get_size(c.p, &w, &h));
  EXPECT_EQ(2u * kEditorW, w);
  EXPECT_EQ(2u * kEditorH, h);
  ASSERT_TRUE(gui->set_scale(c.p, 1.0));
  ASSERT_TRUE(gui->get_size(c.p, &w, &h));
  EXPECT_EQ((uint32_t)kEditorW, w);
  EXPECT_EQ((uint32_t)kEditorH, h);
  EXPECT_FALSE(gui->set_scale(c.p, NAN));
  EXPECT_FALSE(gui->set_size(c.p, w + 10, h));

  const Window parent = MakeParent();
  clap_window_t window = {};
  window.api = CLAP_WINDOW_API_X11;
  window.x11 = parent;
  ASSERT_TRUE(gui->set_parent(c.p, &window));
  EXPECT_TRUE(gui->show(c.p));
  ASSERT_TRUE(Shown(c));
  ASSERT_EQ(1u, c.host.log.timers.size());
  XWindowAttributes wa;
  ASSERT_TRUE(XGetWindowAttributes(mDpy, X11Children(mDpy, parent)[0], &wa));
  EXPECT_EQ(kEditorW, wa.width);
  EXPECT_EQ(kEditorH, wa.height);

  // A new scale while shown: the host is asked for the room.
  ASSERT_TRUE(gui->set_scale(c.p, 2.0));
  EXPECT_EQ(2u * kEditorW, c.host.log.resizeW);
  EXPECT_EQ(2u * kEditorH, c.host.log.resizeH);
  ASSERT_TRUE(gui->set_scale(c.p, 1.0));

  gui->destroy(c.p);
  EXPECT_TRUE(X11Children(mDpy, parent).empty()) << "the editor's window goes with the GUI";
  EXPECT_TRUE(c.host.log.timers.empty()) << "and so does its timer";
  EXPECT_FALSE(gui->get_size(c.p, &w, &h)) << "and the editor";
  ASSERT_TRUE(gui->create(c.p, CLAP_WINDOW_API_X11, false)) << "a new GUI after the last";
  gui->destroy(c.p);
}

TEST_F(ClapBindingGuiTest, ADragReachesTheHostAsAGestureOfValues)
{
  ClapPlug c;
  const clap_plugin_gui_t* gui = Gui(c);
  ASSERT_TRUE(gui->create(c.p, CLAP_WINDOW_API_X11, false));
  ASSERT_TRUE(gui->set_scale(c.p, 1.0));
  clap_window_t window = {};
  window.api = CLAP_WINDOW_API_X11;
  window.x11 = MakeParent();
  ASSERT_TRUE(gui->set_parent(c.p, &window));
  ASSERT_TRUE(Shown(c));
  const double before = c.Value(kIn);

  const int cx = kInputL + kInputSize / 2, cy = kInputT + kInputSize / 2;
  MoveTo(cx, cy);
  Button(true);
  const int flushesBefore = c.host.log.flushes;
  EXPECT_TRUE(Pump(c, [&] { return c.host.log.flushes > flushesBefore; })) << "the gesture's start asks for a flush";
  for (int step = 1; step <= 5; ++step)
  {
    MoveTo(cx, cy - 8 * step);
    const double want = before + 8.0 * step / 146.0 / 4.0 * 400.0;
    EXPECT_TRUE(Pump(c, [&] { return std::fabs(c.Value(kIn) - want) < 1e-6; })) << "step " << step;
  }
  const int flushesBeforeEnd = c.host.log.flushes;
  Button(false);

  // Not processing: the host flushes when asked, and hears the gesture and
  // its values, the end last.
  OutEvents out;
  Events none;
  auto header = [&](size_t i) { return reinterpret_cast<const clap_event_header_t*>(out.events[i].data()); };
  EXPECT_TRUE(Pump(c,
                   [&]
                   {
                     c.params->flush(c.p, &none.list, &out.list);
                     return !out.events.empty() && header(out.events.size() - 1)->type == CLAP_EVENT_PARAM_GESTURE_END;
                   }));
  EXPECT_GT(c.host.log.flushes, flushesBeforeEnd) << "the gesture's end asks for a flush too";
  ASSERT_GE(out.events.size(), 3u);
  EXPECT_EQ(CLAP_EVENT_PARAM_GESTURE_BEGIN, header(0)->type);
  EXPECT_EQ(CLAP_EVENT_PARAM_GESTURE_END, header(out.events.size() - 1)->type);
  double last = before;
  for (size_t i = 0; i < out.events.size(); ++i)
  {
    const clap_event_header_t* e = header(i);
    if (e->type == CLAP_EVENT_PARAM_VALUE)
    {
      const auto* v = reinterpret_cast<const clap_event_param_value_t*>(e);
      EXPECT_EQ((clap_id)kIn, v->param_id);
      EXPECT_GT(v->value, last) << i;
      last = v->value;
    }
    else
      EXPECT_EQ((clap_id)kIn, reinterpret_cast<const clap_event_param_gesture_t*>(e)->param_id) << i;
  }
  EXPECT_NEAR(before + 40.0 / 146.0 / 4.0 * 400.0, last, 1e-6) << "plain, in the host's units";
  EXPECT_DOUBLE_EQ(c.Value(kIn), last);
  OutEvents again;
  c.params->flush(c.p, &none.list, &again.list);
  EXPECT_TRUE(again.events.empty()) << "each event once";
  gui->destroy(c.p);
}

}  // namespace
