// Draws Tavlo's editor artwork: the background and every film strip the
// layout loads, once at the layout's size ("Thr.png") and once at twice it
// for high-density screens ("Thr@2x.png", the same drawing at twice the
// resolution, so that it is sharp rather than enlarged). Run by hand when the
// look changes; the PNGs it writes are committed, so the normal build never
// needs it.
//
//   tavlo-filmstrips <output folder> [--preview <file.png>]
//
// --preview also composes the background with every control at its default
// frame, which is how the panel looks on a fresh instance; the twice-size
// composition goes beside it as <file>@2x.png.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Panel geometry. The control positions are fixed by the layout code; the
// artwork is sized and placed around them.
constexpr int kPanelW = 786;
constexpr int kPanelH = 483;

constexpr int kKnobFrames = 61;
constexpr int kMeterFrames = 61;

constexpr int kBigKnob = 146;   // Input and Output
constexpr int kSmallKnob = 48;  // Attack, Release, Mix, HPF (52 px apart)

constexpr int kBypassW = 78, kBypassH = 44;
constexpr int kToggleW = 56, kToggleH = 28;   // Oversample
constexpr int kSideW = 78, kSideH = 28;       // Sidechain (pill plus INT/EXT)
constexpr int kMeterW = 168, kMeterH = 124;

struct Pos { int x, y; };
constexpr Pos kBypassPos{354, 287};
constexpr Pos kOverPos{0, 455};
constexpr Pos kInputPos{127, 279};
constexpr Pos kOutputPos{506, 279};
constexpr Pos kAttackPos{112, 124};
constexpr Pos kReleasePos{112, 176};
constexpr Pos kMixPos{641, 121};
constexpr Pos kHpfPos{641, 176};
constexpr Pos kSidePos{686, 454};
constexpr Pos kMeterPos{309, 48};

// The knob pointer sweeps 270 degrees, from 135 degrees left of straight up
// to 135 degrees right of it.
constexpr double kKnobMinDeg = -135.0;
constexpr double kKnobMaxDeg = 135.0;

// The meter reads linear gain reduction 0..1; the needle rests at the right
// (no reduction) and swings left, as on classic studio compressors.
constexpr double kMeterRestDeg = 45.0;
constexpr double kMeterFullDeg = -45.0;
constexpr double kMeterPivotX = kMeterW / 2.0;
constexpr double kMeterPivotY = 150.0;  // below the window, as on a real VU

struct Rgb { double r, g, b; };
constexpr Rgb kAccent{0.949, 0.639, 0.227};     // warm amber
constexpr Rgb kBypassRed{1.0, 0.302, 0.239};
constexpr Rgb kLabel{0.80, 0.82, 0.84};
constexpr Rgb kLabelDim{0.50, 0.53, 0.56};

// Angles in this file are degrees clockwise from straight up, like a dial.
double CairoAngle(double dialDeg) { return (dialDeg - 90.0) * kPi / 180.0; }

void DialPoint(double cx, double cy, double dialDeg, double r, double* x, double* y) {
  const double a = dialDeg * kPi / 180.0;
  *x = cx + std::sin(a) * r;
  *y = cy - std::cos(a) * r;
}

void SetRgb(cairo_t* cr, const Rgb& c, double a = 1.0) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

// Deterministic noise so that reruns produce identical files.
struct Lcg {
  uint32_t s = 0x2545F491u;
  double Next() {
    s = s * 1664525u + 1013904223u;
    return (s >> 8) / double(1u << 24);
  }
};

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

enum class Align { kLeft, kCentre, kRight };

// Caps text with a little tracking, the way panel legends are printed.
void Legend(cairo_t* cr, const char* text, double x, double baseline, double size,
            Align align, const Rgb& colour, double alpha = 1.0, double tracking = 1.4,
            bool bold = true) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  const size_t n = std::strlen(text);
  double width = 0.0;
  std::vector<double> adv(n);
  for (size_t i = 0; i < n; ++i) {
    char ch[2] = {text[i], 0};
    cairo_text_extents_t e;
    cairo_text_extents(cr, ch, &e);
    adv[i] = e.x_advance;
    width += e.x_advance + (i + 1 < n ? tracking : 0.0);
  }
  double pen = x;
  if (align == Align::kCentre) pen = x - width / 2.0;
  if (align == Align::kRight) pen = x - width;
  for (size_t i = 0; i < n; ++i) {
    char ch[2] = {text[i], 0};
    // A one-pixel dark shadow below reads as text engraved into the panel.
    cairo_move_to(cr, pen, baseline + 1.0);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.55 * alpha);
    cairo_show_text(cr, ch);
    cairo_move_to(cr, pen, baseline);
    SetRgb(cr, colour, alpha);
    cairo_show_text(cr, ch);
    pen += adv[i] + tracking;
  }
  cairo_new_path(cr);  // drop the text's current point so no stray line follows
}

// ---------------------------------------------------------------- knobs --

struct KnobStyle {
  double size;        // frame edge in pixels
  double body;        // skirt radius
  double cap;         // machined cap radius
  double arcRadius;   // value ring radius
  double arcWidth;
  int knurls;
  bool accentDot;     // amber dot on the skirt (main knobs)
  bool bipolar;       // the ring lights from the centre (a gain around 0 dB)
};

const KnobStyle kBigStyle{kBigKnob, 49.0, 39.0, 60.0, 3.6, 72, true, false};
const KnobStyle kBigBipolarStyle{kBigKnob, 49.0, 39.0, 60.0, 3.6, 72, true, true};
const KnobStyle kSmallStyle{kSmallKnob, 16.5, 12.5, 21.0, 2.4, 36, false, false};

// Conic shading of a turned metal cap: highlights at two opposite angles
// that stay put while the knob turns (the light does not move).
void MachinedCap(cairo_t* cr, double cx, double cy, double r) {
  const int wedges = 360;
  for (int i = 0; i < wedges; ++i) {
    const double a0 = 2 * kPi * i / wedges;
    const double a1 = 2 * kPi * (i + 1.02) / wedges;
    const double mid = (a0 + a1) / 2.0;
    const double l = 0.25 + 0.17 * std::pow(std::fabs(std::cos(mid - 0.75)), 5.0) +
                     0.05 * std::cos(2.0 * (mid - 0.75));
    cairo_move_to(cr, cx, cy);
    cairo_arc(cr, cx, cy, r, a0, a1);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, l, l * 1.01, l * 1.04);
    cairo_fill(cr);
  }
  // Fine concentric turning rings.
  Lcg rng;
  cairo_set_line_width(cr, 0.5);
  for (double rr = 1.0; rr < r; rr += 0.9) {
    cairo_arc(cr, cx, cy, rr, 0, 2 * kPi);
    const double v = rng.Next();
    cairo_set_source_rgba(cr, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, 0.035);
    cairo_stroke(cr);
  }
  // Dome: light from the top left, falling off toward the bottom right.
  cairo_pattern_t* dome = cairo_pattern_create_radial(cx - r * 0.35, cy - r * 0.45, r * 0.1,
                                                      cx, cy, r * 1.05);
  cairo_pattern_add_color_stop_rgba(dome, 0.0, 1, 1, 1, 0.14);
  cairo_pattern_add_color_stop_rgba(dome, 0.6, 1, 1, 1, 0.0);
  cairo_pattern_add_color_stop_rgba(dome, 1.0, 0, 0, 0, 0.28);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  cairo_set_source(cr, dome);
  cairo_fill(cr);
  cairo_pattern_destroy(dome);
  // Chamfer: bright upper rim, dark lower rim.
  cairo_pattern_t* rim = cairo_pattern_create_linear(cx, cy - r, cx, cy + r);
  cairo_pattern_add_color_stop_rgba(rim, 0.0, 1, 1, 1, 0.45);
  cairo_pattern_add_color_stop_rgba(rim, 0.5, 1, 1, 1, 0.05);
  cairo_pattern_add_color_stop_rgba(rim, 1.0, 0, 0, 0, 0.6);
  cairo_set_line_width(cr, 1.2);
  cairo_arc(cr, cx, cy, r - 0.6, 0, 2 * kPi);
  cairo_set_source(cr, rim);
  cairo_stroke(cr);
  cairo_pattern_destroy(rim);
}

void DrawKnobFrame(cairo_t* cr, const KnobStyle& s, double value) {
  const double c = s.size / 2.0;
  const double angle = kKnobMinDeg + (kKnobMaxDeg - kKnobMinDeg) * value;

  // Lit part of the value ring, with a soft glow under it.
  const double from = s.bipolar ? (kKnobMinDeg + kKnobMaxDeg) / 2.0 : kKnobMinDeg;
  if (std::fabs(angle - from) > 1e-9) {
    const double a0 = CairoAngle(std::min(from, angle)), a1 = CairoAngle(std::max(from, angle));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, s.arcWidth * 2.6);
    cairo_new_path(cr);
    cairo_arc(cr, c, c, s.arcRadius, a0, a1);
    SetRgb(cr, kAccent, 0.16);
    cairo_stroke(cr);
    cairo_set_line_width(cr, s.arcWidth);
    cairo_new_path(cr);
    cairo_arc(cr, c, c, s.arcRadius, a0, a1);
    SetRgb(cr, kAccent, 1.0);
    cairo_stroke(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  }

  // Drop shadow of the whole knob.
  cairo_pattern_t* sh = cairo_pattern_create_radial(c, c + s.body * 0.14, s.body * 0.8,
                                                    c, c + s.body * 0.14, s.body * 1.22);
  cairo_pattern_add_color_stop_rgba(sh, 0.0, 0, 0, 0, 0.7);
  cairo_pattern_add_color_stop_rgba(sh, 1.0, 0, 0, 0, 0.0);
  cairo_arc(cr, c, c + s.body * 0.14, s.body * 1.22, 0, 2 * kPi);
  cairo_set_source(cr, sh);
  cairo_fill(cr);
  cairo_pattern_destroy(sh);

  // Skirt: dark anodised ring.
  cairo_pattern_t* skirt = cairo_pattern_create_linear(c, c - s.body, c, c + s.body);
  cairo_pattern_add_color_stop_rgb(skirt, 0.0, 0.25, 0.26, 0.28);
  cairo_pattern_add_color_stop_rgb(skirt, 1.0, 0.07, 0.075, 0.085);
  cairo_arc(cr, c, c, s.body, 0, 2 * kPi);
  cairo_set_source(cr, skirt);
  cairo_fill(cr);
  cairo_pattern_destroy(skirt);

  // Knurling turns with the knob.
  cairo_set_line_width(cr, s.size > 100 ? 1.3 : 0.9);
  for (int i = 0; i < s.knurls; ++i) {
    const double a = angle + 360.0 * i / s.knurls;
    double x0, y0, x1, y1;
    DialPoint(c, c, a, s.cap + (s.body - s.cap) * 0.35, &x0, &y0);
    DialPoint(c, c, a, s.body - 0.8, &x1, &y1);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    // Ridges facing the light catch it; the rest stay dark.
    const double facing = 0.5 + 0.5 * std::cos((a + 30.0) * kPi / 180.0);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.05 + 0.13 * facing);
    cairo_stroke(cr);
  }
  cairo_set_line_width(cr, 1.0);
  cairo_arc(cr, c, c, s.body - 0.5, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.7);
  cairo_stroke(cr);

  // Gap between skirt and cap.
  cairo_arc(cr, c, c, s.cap + 1.2, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.65);
  cairo_fill(cr);

  MachinedCap(cr, c, c, s.cap);

  // Pointer: an engraved line filled with white paint.
  double x0, y0, x1, y1;
  DialPoint(c, c, angle, s.cap * 0.32, &x0, &y0);
  DialPoint(c, c, angle, s.cap * 0.9, &x1, &y1);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, s.size > 100 ? 4.2 : 3.2);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
  cairo_stroke(cr);
  cairo_set_line_width(cr, s.size > 100 ? 2.6 : 2.0);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_set_source_rgb(cr, 0.96, 0.95, 0.92);
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);

  if (s.accentDot) {
    double dx, dy;
    DialPoint(c, c, angle, (s.cap + s.body) / 2.0 + 0.5, &dx, &dy);
    cairo_arc(cr, dx, dy, 2.6, 0, 2 * kPi);
    SetRgb(cr, kAccent, 1.0);
    cairo_fill(cr);
  }
}

// ------------------------------------------------------------- switches --

void DrawBypassFrame(cairo_t* cr, bool on) {
  const double x = 4, y = 4, w = kBypassW - 8, h = kBypassH - 8;
  const double press = on ? 1.0 : 0.0;
  // Shadow and well.
  RoundedRect(cr, x - 2, y - 1, w + 4, h + 4, 7);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
  cairo_fill(cr);
  // Cap.
  cairo_pattern_t* g = cairo_pattern_create_linear(0, y + press, 0, y + h + press);
  const double top = on ? 0.20 : 0.27, bottom = on ? 0.11 : 0.13;
  cairo_pattern_add_color_stop_rgb(g, 0, top, top * 1.01, top * 1.05);
  cairo_pattern_add_color_stop_rgb(g, 1, bottom, bottom * 1.01, bottom * 1.05);
  RoundedRect(cr, x, y + press, w, h - press, 5.5);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  // Top highlight edge.
  RoundedRect(cr, x + 0.5, y + press + 0.5, w - 1, h - press - 1, 5);
  cairo_pattern_t* e = cairo_pattern_create_linear(0, y, 0, y + h);
  cairo_pattern_add_color_stop_rgba(e, 0, 1, 1, 1, on ? 0.12 : 0.25);
  cairo_pattern_add_color_stop_rgba(e, 0.4, 1, 1, 1, 0.0);
  cairo_set_source(cr, e);
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
  cairo_pattern_destroy(e);
  // Lamp: a slit that glows red while the effect is bypassed.
  const double lw = 34, lh = 5, lx = (kBypassW - lw) / 2.0, ly = y + press + (h - lh) / 2.0;
  if (on) {
    for (int i = 4; i >= 1; --i) {
      RoundedRect(cr, lx - i * 2.0, ly - i * 2.0, lw + i * 4.0, lh + i * 4.0, 2.5 + i * 2.0);
      SetRgb(cr, kBypassRed, 0.07);
      cairo_fill(cr);
    }
    RoundedRect(cr, lx, ly, lw, lh, 2.5);
    SetRgb(cr, kBypassRed, 1.0);
    cairo_fill(cr);
    RoundedRect(cr, lx + 3, ly + 1, lw - 6, 1.6, 0.8);
    cairo_set_source_rgba(cr, 1, 0.85, 0.8, 0.8);
    cairo_fill(cr);
  } else {
    RoundedRect(cr, lx, ly, lw, lh, 2.5);
    cairo_set_source_rgb(cr, 0.20, 0.09, 0.08);
    cairo_fill(cr);
    RoundedRect(cr, lx, ly, lw, lh, 2.5);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
  }
}

// A slide toggle: thumb right and amber when lit.
void DrawPill(cairo_t* cr, double x, double y, bool lit) {
  const double w = 32, h = 18, r = h / 2.0;
  RoundedRect(cr, x - 1, y - 1, w + 2, h + 3, r + 1);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
  cairo_fill(cr);
  cairo_pattern_t* track = cairo_pattern_create_linear(0, y, 0, y + h);
  if (lit) {
    cairo_pattern_add_color_stop_rgb(track, 0, kAccent.r * 0.75, kAccent.g * 0.75, kAccent.b * 0.75);
    cairo_pattern_add_color_stop_rgb(track, 1, kAccent.r, kAccent.g, kAccent.b);
  } else {
    cairo_pattern_add_color_stop_rgb(track, 0, 0.05, 0.055, 0.06);
    cairo_pattern_add_color_stop_rgb(track, 1, 0.12, 0.125, 0.135);
  }
  RoundedRect(cr, x, y, w, h, r);
  cairo_set_source(cr, track);
  cairo_fill(cr);
  cairo_pattern_destroy(track);
  const double tx = lit ? x + w - r : x + r, ty = y + r;
  cairo_arc(cr, tx, ty + 1.0, r - 1.5, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.45);
  cairo_fill(cr);
  cairo_pattern_t* thumb = cairo_pattern_create_linear(0, ty - r, 0, ty + r);
  cairo_pattern_add_color_stop_rgb(thumb, 0, 0.86, 0.86, 0.86);
  cairo_pattern_add_color_stop_rgb(thumb, 1, 0.52, 0.53, 0.55);
  cairo_arc(cr, tx, ty, r - 2.0, 0, 2 * kPi);
  cairo_set_source(cr, thumb);
  cairo_fill(cr);
  cairo_pattern_destroy(thumb);
}

void DrawOversampleFrame(cairo_t* cr, bool on) { DrawPill(cr, 20, 5, on); }

// Sidechain value 0 is the external key input, value 1 the main input. The
// pill lights for the external key so that "SIDECHAIN" lit means what it says;
// the INT/EXT legend removes any doubt.
void DrawSidechainFrame(cairo_t* cr, bool internal) {
  DrawPill(cr, 44, 6, !internal);
  Legend(cr, internal ? "INT" : "EXT", 36, 19, 9.0, Align::kRight,
         internal ? kLabelDim : kAccent, 1.0, 0.8);
}

// ---------------------------------------------------------------- meter --

double MeterAngle(double value) {
  return kMeterRestDeg + (kMeterFullDeg - kMeterRestDeg) * value;
}

// Gain reduction in dB shown at a meter value (linear reduction 1 - gain).
double MeterValueForDb(double db) { return 1.0 - std::pow(10.0, -db / 20.0); }

void DrawMeterFrame(cairo_t* cr, double value) {
  const double px = kMeterPivotX, py = kMeterPivotY;
  const double angle = MeterAngle(value);
  double x0, y0, x1, y1;
  DialPoint(px, py, angle, 44.0, &x0, &y0);
  DialPoint(px, py, angle, 106.0, &x1, &y1);
  // Shadow cast on the face behind the needle.
  cairo_set_line_width(cr, 2.4);
  cairo_move_to(cr, x0 + 2.5, y0 + 3.0);
  cairo_line_to(cr, x1 + 2.5, y1 + 3.0);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 2.0);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_set_source_rgb(cr, 0.97, 0.95, 0.90);
  cairo_stroke(cr);
  // Pivot housing hides the needle's root.
  cairo_pattern_t* hg = cairo_pattern_create_linear(0, py - 44, 0, kMeterH);
  cairo_pattern_add_color_stop_rgb(hg, 0, 0.17, 0.17, 0.18);
  cairo_pattern_add_color_stop_rgb(hg, 1, 0.07, 0.07, 0.08);
  cairo_arc(cr, px, py, 44.0, 0, 2 * kPi);
  cairo_set_source(cr, hg);
  cairo_fill(cr);
  cairo_pattern_destroy(hg);
  cairo_new_path(cr);
  cairo_arc(cr, px, py, 43.5, CairoAngle(-60), CairoAngle(60));
  cairo_set_source_rgba(cr, 1, 1, 1, 0.18);
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
  // Glass: a faint sheen over the upper half of the window.
  cairo_pattern_t* glass = cairo_pattern_create_linear(0, 0, kMeterW * 0.4, kMeterH);
  cairo_pattern_add_color_stop_rgba(glass, 0.0, 1, 1, 1, 0.07);
  cairo_pattern_add_color_stop_rgba(glass, 0.45, 1, 1, 1, 0.02);
  cairo_pattern_add_color_stop_rgba(glass, 0.46, 1, 1, 1, 0.0);
  cairo_rectangle(cr, 0, 0, kMeterW, kMeterH);
  cairo_set_source(cr, glass);
  cairo_fill(cr);
  cairo_pattern_destroy(glass);
}

// ----------------------------------------------------------- background --

void PanelTexture(cairo_t* cr) {
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, kPanelH);
  cairo_pattern_add_color_stop_rgb(g, 0.0, 0.165, 0.172, 0.188);
  cairo_pattern_add_color_stop_rgb(g, 1.0, 0.098, 0.102, 0.114);
  cairo_rectangle(cr, 0, 0, kPanelW, kPanelH);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  // Soft light pooling at the top centre, behind the meter.
  cairo_pattern_t* pool = cairo_pattern_create_radial(kPanelW / 2.0, 40, 20, kPanelW / 2.0, 40, 420);
  cairo_pattern_add_color_stop_rgba(pool, 0, 1, 1, 1, 0.05);
  cairo_pattern_add_color_stop_rgba(pool, 1, 1, 1, 1, 0.0);
  cairo_rectangle(cr, 0, 0, kPanelW, kPanelH);
  cairo_set_source(cr, pool);
  cairo_fill(cr);
  cairo_pattern_destroy(pool);
  // Fine horizontal brushing.
  Lcg rng;
  cairo_set_line_width(cr, 1.0);
  for (int y = 0; y < kPanelH; ++y) {
    double x = 0;
    while (x < kPanelW) {
      const double len = 20 + rng.Next() * 140;
      const double v = rng.Next();
      cairo_move_to(cr, x, y + 0.5);
      cairo_line_to(cr, x + len, y + 0.5);
      cairo_set_source_rgba(cr, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0,
                            0.012 + 0.012 * rng.Next());
      cairo_stroke(cr);
      x += len;
    }
  }
}

// A recessed area: dark fill, shadow at the top edge, light at the bottom.
void Recess(cairo_t* cr, double x, double y, double w, double h, double r, double depth = 0.28) {
  RoundedRect(cr, x, y, w, h, r);
  cairo_set_source_rgba(cr, 0, 0, 0, depth);
  cairo_fill(cr);
  RoundedRect(cr, x + 0.5, y + 0.5, w - 1, h - 1, r);
  cairo_pattern_t* e = cairo_pattern_create_linear(0, y, 0, y + h);
  cairo_pattern_add_color_stop_rgba(e, 0, 0, 0, 0, 0.6);
  cairo_pattern_add_color_stop_rgba(e, 0.5, 0, 0, 0, 0.15);
  cairo_pattern_add_color_stop_rgba(e, 1, 1, 1, 1, 0.08);
  cairo_set_source(cr, e);
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
  cairo_pattern_destroy(e);
}

void Screw(cairo_t* cr, double x, double y) {
  cairo_arc(cr, x, y + 0.8, 5.2, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
  cairo_fill(cr);
  cairo_pattern_t* g = cairo_pattern_create_linear(x - 4, y - 4, x + 4, y + 4);
  cairo_pattern_add_color_stop_rgb(g, 0, 0.55, 0.56, 0.58);
  cairo_pattern_add_color_stop_rgb(g, 1, 0.22, 0.23, 0.25);
  cairo_arc(cr, x, y, 4.5, 0, 2 * kPi);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  cairo_set_line_width(cr, 1.2);
  cairo_move_to(cr, x - 2.6, y - 1.5);
  cairo_line_to(cr, x + 2.6, y + 1.5);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
  cairo_stroke(cr);
}

// Static parts of a knob: the dark value-ring groove, and for the main
// knobs a tick scale with its end values.
void KnobSurround(cairo_t* cr, const Pos& p, const KnobStyle& s, bool ticks,
                  const char* minText, const char* midText, const char* maxText) {
  const double cx = p.x + s.size / 2.0, cy = p.y + s.size / 2.0;
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, s.arcWidth + 1.6);
  cairo_new_path(cr);
  cairo_arc(cr, cx, cy, s.arcRadius, CairoAngle(kKnobMinDeg), CairoAngle(kKnobMaxDeg));
  cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
  cairo_stroke(cr);
  cairo_set_line_width(cr, s.arcWidth);
  cairo_new_path(cr);
  cairo_arc(cr, cx, cy, s.arcRadius, CairoAngle(kKnobMinDeg), CairoAngle(kKnobMaxDeg));
  cairo_set_source_rgb(cr, 0.075, 0.078, 0.086);
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  if (!ticks) return;
  const int n = 21;
  for (int i = 0; i < n; ++i) {
    const double a = kKnobMinDeg + (kKnobMaxDeg - kKnobMinDeg) * i / (n - 1);
    const bool major = i % 5 == 0;
    double x0, y0, x1, y1;
    DialPoint(cx, cy, a, s.arcRadius + 4.5, &x0, &y0);
    DialPoint(cx, cy, a, s.arcRadius + (major ? 10.0 : 7.0), &x1, &y1);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_set_line_width(cr, major ? 1.5 : 1.0);
    SetRgb(cr, major ? kLabel : kLabelDim, major ? 0.85 : 0.6);
    cairo_stroke(cr);
  }
  double lx, ly;
  DialPoint(cx, cy, kKnobMinDeg, s.arcRadius + 8.0, &lx, &ly);
  Legend(cr, minText, lx + 3, ly + 14, 8.5, Align::kCentre, kLabelDim, 1.0, 0.3);
  DialPoint(cx, cy, kKnobMaxDeg, s.arcRadius + 8.0, &lx, &ly);
  Legend(cr, maxText, lx - 3, ly + 14, 8.5, Align::kCentre, kLabelDim, 1.0, 0.3);
  if (midText) {
    Legend(cr, midText, cx, cy - s.arcRadius - 12.0, 8.5, Align::kCentre, kLabelDim, 1.0, 0.3);
  }
}

void MeterFace(cairo_t* cr) {
  const double x = kMeterPos.x, y = kMeterPos.y;
  // Bezel.
  RoundedRect(cr, x - 9, y - 9, kMeterW + 18, kMeterH + 18, 9);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
  cairo_fill(cr);
  cairo_pattern_t* bz = cairo_pattern_create_linear(0, y - 8, 0, y + kMeterH + 8);
  cairo_pattern_add_color_stop_rgb(bz, 0, 0.30, 0.31, 0.33);
  cairo_pattern_add_color_stop_rgb(bz, 1, 0.10, 0.105, 0.115);
  RoundedRect(cr, x - 8, y - 8, kMeterW + 16, kMeterH + 16, 8);
  cairo_set_source(cr, bz);
  cairo_fill(cr);
  cairo_pattern_destroy(bz);
  // Face: dark, lit warmly from below.
  cairo_pattern_t* face = cairo_pattern_create_radial(x + kMeterW / 2.0, y + kMeterH + 10, 10,
                                                      x + kMeterW / 2.0, y + kMeterH, 170);
  cairo_pattern_add_color_stop_rgb(face, 0, 0.23, 0.17, 0.10);
  cairo_pattern_add_color_stop_rgb(face, 1, 0.075, 0.07, 0.065);
  RoundedRect(cr, x, y, kMeterW, kMeterH, 4);
  cairo_set_source(cr, face);
  cairo_fill(cr);
  cairo_pattern_destroy(face);
  // Inner shadow along the top of the window.
  cairo_pattern_t* is = cairo_pattern_create_linear(0, y, 0, y + 10);
  cairo_pattern_add_color_stop_rgba(is, 0, 0, 0, 0, 0.6);
  cairo_pattern_add_color_stop_rgba(is, 1, 0, 0, 0, 0.0);
  RoundedRect(cr, x, y, kMeterW, kMeterH, 4);
  cairo_set_source(cr, is);
  cairo_fill(cr);
  cairo_pattern_destroy(is);

  const double px = x + kMeterPivotX, py = y + kMeterPivotY;
  const double scaleR = 100.0;
  // Scale arc, amber from 10 dB of reduction on.
  const double v10 = MeterValueForDb(10.0);
  cairo_set_line_width(cr, 1.2);
  cairo_new_path(cr);
  cairo_arc(cr, px, py, scaleR, CairoAngle(MeterAngle(v10)), CairoAngle(kMeterRestDeg));
  SetRgb(cr, kLabel, 0.9);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 3.0);
  cairo_new_path(cr);
  cairo_arc(cr, px, py, scaleR + 1.5, CairoAngle(kMeterFullDeg), CairoAngle(MeterAngle(v10)));
  SetRgb(cr, kAccent, 0.95);
  cairo_stroke(cr);

  struct Mark { double db; const char* text; };
  const Mark marks[] = {{0, "0"}, {1, "1"}, {2, "2"}, {3, "3"}, {4, nullptr}, {5, nullptr},
                        {6, "6"}, {8, nullptr}, {10, "10"}, {15, nullptr}, {20, "20"}};
  for (const Mark& m : marks) {
    const double a = MeterAngle(MeterValueForDb(m.db));
    const bool major = m.text != nullptr;
    double x0, y0, x1, y1;
    DialPoint(px, py, a, scaleR - (major ? 1 : 0), &x0, &y0);
    DialPoint(px, py, a, scaleR + (major ? 8.0 : 5.0), &x1, &y1);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_set_line_width(cr, major ? 1.4 : 1.0);
    if (m.db >= 10) SetRgb(cr, kAccent, 1.0); else SetRgb(cr, kLabel, 0.95);
    cairo_stroke(cr);
    if (major) {
      double tx, ty;
      DialPoint(px, py, a, scaleR + 15.0, &tx, &ty);
      Legend(cr, m.text, tx, ty + 3.5, 9.0, Align::kCentre,
             m.db >= 10 ? kAccent : kLabel, 1.0, 0.2);
    }
  }
  Legend(cr, "GR", x + 10, y + kMeterH - 10, 8.0, Align::kLeft, kLabelDim, 1.0, 0.8);
  Legend(cr, "dB", x + kMeterW - 10, y + kMeterH - 10, 8.0, Align::kRight, kLabelDim, 1.0, 0.6,
         false);
}

void DrawBackground(cairo_t* cr) {
  PanelTexture(cr);

  // Top edge highlight and the machined side cheeks.
  cairo_rectangle(cr, 0, 0, kPanelW, 1);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.12);
  cairo_fill(cr);
  Screw(cr, 12, 12);
  Screw(cr, kPanelW - 12, 12);

  // Brand.
  Legend(cr, "TAVLO", 26, 44, 26.0, Align::kLeft, {0.93, 0.93, 0.92}, 1.0, 6.0);
  Legend(cr, "STEREO COMPRESSOR", 28, 62, 8.5, Align::kLeft, kAccent, 1.0, 2.2);
  Legend(cr, "QUILLMARSHWORKS", kPanelW - 26, 44, 9.0, Align::kRight, kLabelDim, 1.0, 2.4);
  Legend(cr, "DYNAMICS PROCESSOR", kPanelW - 26, 62, 7.5, Align::kRight, kLabelDim, 0.7, 2.0,
         false);

  // Side sections.
  Recess(cr, 24, 106, 168, 130, 10);
  Recess(cr, kPanelW - 24 - 168, 106, 168, 130, 10);
  const double aY = kAttackPos.y + kSmallKnob / 2.0, rY = kReleasePos.y + kSmallKnob / 2.0;
  Legend(cr, "ATTACK", kAttackPos.x - 6, aY + 3.5, 9.5, Align::kRight, kLabel);
  Legend(cr, "RELEASE", kReleasePos.x - 6, rY + 3.5, 9.5, Align::kRight, kLabel);
  const double mY = kMixPos.y + kSmallKnob / 2.0, hY = kHpfPos.y + kSmallKnob / 2.0;
  Legend(cr, "MIX", kMixPos.x + kSmallKnob + 6, mY + 3.5, 9.5, Align::kLeft, kLabel);
  Legend(cr, "HPF", kHpfPos.x + kSmallKnob + 6, hY + 3.5, 9.5, Align::kLeft, kLabel);
  KnobSurround(cr, kAttackPos, kSmallStyle, false, nullptr, nullptr, nullptr);
  KnobSurround(cr, kReleasePos, kSmallStyle, false, nullptr, nullptr, nullptr);
  KnobSurround(cr, kMixPos, kSmallStyle, false, nullptr, nullptr, nullptr);
  KnobSurround(cr, kHpfPos, kSmallStyle, false, nullptr, nullptr, nullptr);

  // Meter and its caption.
  MeterFace(cr);
  Legend(cr, "GAIN REDUCTION", kPanelW / 2.0, kMeterPos.y + kMeterH + 30, 8.5, Align::kCentre,
         kLabelDim, 1.0, 2.2);

  // Main knobs.
  const double inCx = kInputPos.x + kBigKnob / 2.0, outCx = kOutputPos.x + kBigKnob / 2.0;
  Legend(cr, "INPUT", inCx, kInputPos.y - 20, 11.0, Align::kCentre, kLabel, 1.0, 2.6);
  Legend(cr, "OUTPUT", outCx, kOutputPos.y - 20, 11.0, Align::kCentre, kLabel, 1.0, 2.6);
  KnobSurround(cr, kInputPos, kBigStyle, true, "0", nullptr, "400");
  KnobSurround(cr, kOutputPos, kBigStyle, true, "-20", "0", "+20");

  // Bypass button well and legend.
  Recess(cr, kBypassPos.x - 4, kBypassPos.y - 2, kBypassW + 8, kBypassH + 4, 9, 0.35);
  Legend(cr, "BYPASS", kBypassPos.x + kBypassW / 2.0, kBypassPos.y + kBypassH + 20, 9.5,
         Align::kCentre, kLabel, 1.0, 2.0);

  // Footer strip with the two switches.
  const double fy = 448;
  cairo_rectangle(cr, 0, fy, kPanelW, kPanelH - fy);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.32);
  cairo_fill(cr);
  cairo_rectangle(cr, 0, fy, kPanelW, 1);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
  cairo_fill(cr);
  cairo_rectangle(cr, 0, fy + 1, kPanelW, 1);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.06);
  cairo_fill(cr);
  Legend(cr, "OVERSAMPLE", kOverPos.x + kToggleW + 4, kOverPos.y + 18, 9.0, Align::kLeft,
         kLabel, 1.0, 1.6);
  Legend(cr, "SIDECHAIN", kSidePos.x - 4, kSidePos.y + 19, 9.0, Align::kRight, kLabel, 1.0, 1.6);
}

// -------------------------------------------------------------- output --

struct Strip {
  std::string file;
  int frameW, frameH, frames;
  void (*draw)(cairo_t*, int frame, int frames);
};

void BigKnob(cairo_t* cr, int f, int n) { DrawKnobFrame(cr, kBigStyle, double(f) / (n - 1)); }
void GainKnob(cairo_t* cr, int f, int n) { DrawKnobFrame(cr, kBigBipolarStyle, double(f) / (n - 1)); }
void SmallKnob(cairo_t* cr, int f, int n) { DrawKnobFrame(cr, kSmallStyle, double(f) / (n - 1)); }
void Meter(cairo_t* cr, int f, int n) { DrawMeterFrame(cr, double(f) / (n - 1)); }
void Bypass(cairo_t* cr, int f, int) { DrawBypassFrame(cr, f == 1); }
void Over(cairo_t* cr, int f, int) { DrawOversampleFrame(cr, f == 1); }
void Side(cairo_t* cr, int f, int) { DrawSidechainFrame(cr, f == 1); }
void Background(cairo_t* cr, int, int) { DrawBackground(cr); }

const Strip kStrips[] = {
    {"bg.png", kPanelW, kPanelH, 1, Background},
    {"by.png", kBypassW, kBypassH, 2, Bypass},
    {"OVER.png", kToggleW, kToggleH, 2, Over},
    {"Thr.png", kBigKnob, kBigKnob, kKnobFrames, BigKnob},
    {"Out.png", kBigKnob, kBigKnob, kKnobFrames, GainKnob},
    {"Atk.png", kSmallKnob, kSmallKnob, kKnobFrames, SmallKnob},
    {"Rel.png", kSmallKnob, kSmallKnob, kKnobFrames, SmallKnob},
    {"Mix.png", kSmallKnob, kSmallKnob, kKnobFrames, SmallKnob},
    {"Hpf.png", kSmallKnob, kSmallKnob, kKnobFrames, SmallKnob},
    {"SC.png", kSideW, kSideH, 2, Side},
    {"vu.png", kMeterW, kMeterH, kMeterFrames, Meter},
};

// Frames are stacked vertically; each is clipped to its own cell so that
// glows and shadows never bleed into a neighbour. At scale 2 every length
// doubles, so frame k of the large strip covers exactly frame k of the small.
cairo_surface_t* RenderStrip(const Strip& s, int scale) {
  cairo_surface_t* surf =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s.frameW * scale, s.frameH * s.frames * scale);
  cairo_t* cr = cairo_create(surf);
  cairo_scale(cr, scale, scale);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_SLIGHT);
  cairo_set_font_options(cr, fo);
  cairo_font_options_destroy(fo);
  for (int f = 0; f < s.frames; ++f) {
    cairo_save(cr);
    cairo_rectangle(cr, 0, f * s.frameH, s.frameW, s.frameH);
    cairo_clip(cr);
    cairo_translate(cr, 0, f * s.frameH);
    s.draw(cr, f, s.frames);
    cairo_restore(cr);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surf);
  return surf;
}

const Strip* FindStrip(const char* file) {
  for (const Strip& s : kStrips)
    if (s.file == file) return &s;
  return nullptr;
}

// Frame index (0-based) a control shows for a normalised value.
int FrameFor(double value, int frames) {
  const int k = int((frames - 1) * value + 0.5);
  return k < 0 ? 0 : (k >= frames ? frames - 1 : k);
}

// "bg.png" at scale 2 is "bg@2x.png".
std::string FileAt(const std::string& file, int scale) {
  if (scale == 1) return file;
  const size_t dot = file.rfind('.');
  return file.substr(0, dot) + "@" + std::to_string(scale) + "x" + file.substr(dot);
}

bool WritePreview(const std::string& outDir, const std::string& path, int scale) {
  struct Placed { const char* file; Pos pos; double value; };
  // Normalised defaults of a fresh instance (Attack and Release use shape 2).
  const double attack = std::sqrt((0.005 - 0.0001) / (0.0101 - 0.0001));
  const double release = std::sqrt((0.3 - 0.1) / (0.5 - 0.1));
  const Placed placed[] = {
      {"by.png", kBypassPos, 0.0},  {"OVER.png", kOverPos, 0.0},
      {"Thr.png", kInputPos, 0.0},  {"Out.png", kOutputPos, 0.5},
      {"Atk.png", kAttackPos, attack}, {"Rel.png", kReleasePos, release},
      {"Mix.png", kMixPos, 1.0},    {"Hpf.png", kHpfPos, 0.0},
      {"SC.png", kSidePos, 1.0},    {"vu.png", kMeterPos, 0.0},
  };
  cairo_surface_t* bg = cairo_image_surface_create_from_png((outDir + "/" + FileAt("bg.png", scale)).c_str());
  if (cairo_surface_status(bg) != CAIRO_STATUS_SUCCESS) return false;
  cairo_t* cr = cairo_create(bg);
  for (const Placed& p : placed) {
    const Strip* s = FindStrip(p.file);
    cairo_surface_t* img = cairo_image_surface_create_from_png((outDir + "/" + FileAt(p.file, scale)).c_str());
    if (!s || cairo_surface_status(img) != CAIRO_STATUS_SUCCESS) return false;
    const int f = FrameFor(p.value, s->frames);
    const int x = p.pos.x * scale, y = p.pos.y * scale, fw = s->frameW * scale, fh = s->frameH * scale;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, fw, fh);
    cairo_clip(cr);
    cairo_set_source_surface(cr, img, x, y - f * fh);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(img);
  }
  cairo_destroy(cr);
  const bool ok = cairo_surface_write_to_png(bg, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(bg);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--preview") == 0)) {
    std::fprintf(stderr, "usage: %s <output folder> [--preview <file.png>]\n", argv[0]);
    return 2;
  }
  const std::string outDir = argv[1];
  for (int scale : {1, 2}) {
    for (const Strip& s : kStrips) {
      cairo_surface_t* surf = RenderStrip(s, scale);
      const std::string path = outDir + "/" + FileAt(s.file, scale);
      const cairo_status_t st = cairo_surface_write_to_png(surf, path.c_str());
      cairo_surface_destroy(surf);
      if (st != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), cairo_status_to_string(st));
        return 1;
      }
      std::printf("%s  %d x %d, %d frame%s\n", path.c_str(), s.frameW * scale,
                  s.frameH * s.frames * scale, s.frames, s.frames == 1 ? "" : "s");
    }
  }
  if (argc == 4) {
    for (int scale : {1, 2}) {
      const std::string path = FileAt(argv[3], scale);
      if (!WritePreview(outDir, path, scale)) {
        std::fprintf(stderr, "cannot write the preview %s\n", path.c_str());
        return 1;
      }
      std::printf("%s  preview\n", path.c_str());
    }
  }
  return 0;
}
