// The controls' film strips of tavlo-filmstrips (knobs, switches, the
// meter's needle) and the drawing helpers every drawing uses.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "TavloFilmstripsArt.h"

namespace filmstrips
{

// ------------------------------------------------------------- helpers --

double CairoAngle(double dialDeg) { return (dialDeg - 90.0) * kPi / 180.0; }

void DialPoint(double cx, double cy, double dialDeg, double r, double* x, double* y)
{
  const double a = dialDeg * kPi / 180.0;
  *x = cx + std::sin(a) * r;
  *y = cy - std::cos(a) * r;
}

void SetRgb(cairo_t* cr, const Rgb& c, double a) { cairo_set_source_rgba(cr, c.r, c.g, c.b, a); }

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r)
{
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

void Legend(cairo_t* cr, const char* text, double x, double baseline, double size, Align align, const Rgb& colour,
            double alpha, double tracking, bool bold, bool engraved)
{
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  const size_t n = std::strlen(text);
  double width = 0.0;
  std::vector<double> adv(n);
  for (size_t i = 0; i < n; ++i)
  {
    char ch[2] = {text[i], 0};
    cairo_text_extents_t e;
    cairo_text_extents(cr, ch, &e);
    adv[i] = e.x_advance;
    width += e.x_advance + (i + 1 < n ? tracking : 0.0);
  }
  double pen = x;
  if (align == Align::kCentre) pen = x - width / 2.0;
  if (align == Align::kRight) pen = x - width;
  for (size_t i = 0; i < n; ++i)
  {
    char ch[2] = {text[i], 0};
    // A one-pixel dark shadow below reads as text engraved into the panel.
    if (engraved)
    {
      cairo_move_to(cr, pen, baseline + 1.0);
      cairo_set_source_rgba(cr, 0, 0, 0, 0.55 * alpha);
      cairo_show_text(cr, ch);
    }
    cairo_move_to(cr, pen, baseline);
    SetRgb(cr, colour, alpha);
    cairo_show_text(cr, ch);
    pen += adv[i] + tracking;
  }
  cairo_new_path(cr);  // drop the text's current point so no stray line follows
}

// ---------------------------------------------------------------- knobs --

namespace
{

// Conic shading of a turned metal cap: highlights at two opposite angles
// that stay put while the knob turns (the light does not move).
void MachinedCap(cairo_t* cr, double cx, double cy, double r)
{
  const int wedges = 360;
  for (int i = 0; i < wedges; ++i)
  {
    const double a0 = 2 * kPi * i / wedges;
    const double a1 = 2 * kPi * (i + 1.02) / wedges;
    const double mid = (a0 + a1) / 2.0;
    const double l = 0.25 + 0.17 * std::pow(std::fabs(std::cos(mid - 0.75)), 5.0) + 0.05 * std::cos(2.0 * (mid - 0.75));
    cairo_move_to(cr, cx, cy);
    cairo_arc(cr, cx, cy, r, a0, a1);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, l, l * 1.01, l * 1.04);
    cairo_fill(cr);
  }
  // Fine concentric turning rings.
  Lcg rng;
  cairo_set_line_width(cr, 0.5);
  for (double rr = 1.0; rr < r; rr += 0.9)
  {
    cairo_arc(cr, cx, cy, rr, 0, 2 * kPi);
    const double v = rng.Next();
    cairo_set_source_rgba(cr, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, 0.035);
    cairo_stroke(cr);
  }
  // Dome: light from the top left, falling off toward the bottom right.
  cairo_pattern_t* dome = cairo_pattern_create_radial(cx - r * 0.35, cy - r * 0.45, r * 0.1, cx, cy, r * 1.05);
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

// The lit part of the value ring, with a soft glow under it.
void KnobValueRing(cairo_t* cr, const KnobStyle& s, double c, double angle)
{
  const double from = s.bipolar ? (kKnobMinDeg + kKnobMaxDeg) / 2.0 : kKnobMinDeg;
  if (std::fabs(angle - from) > 1e-9)
  {
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
}

// The knob's drop shadow and its skirt, a dark anodised ring.
void KnobSkirt(cairo_t* cr, const KnobStyle& s, double c)
{
  cairo_pattern_t* sh =
    cairo_pattern_create_radial(c, c + s.body * 0.14, s.body * 0.8, c, c + s.body * 0.14, s.body * 1.22);
  cairo_pattern_add_color_stop_rgba(sh, 0.0, 0, 0, 0, 0.7);
  cairo_pattern_add_color_stop_rgba(sh, 1.0, 0, 0, 0, 0.0);
  cairo_arc(cr, c, c + s.body * 0.14, s.body * 1.22, 0, 2 * kPi);
  cairo_set_source(cr, sh);
  cairo_fill(cr);
  cairo_pattern_destroy(sh);

  cairo_pattern_t* skirt = cairo_pattern_create_linear(c, c - s.body, c, c + s.body);
  cairo_pattern_add_color_stop_rgb(skirt, 0.0, 0.25, 0.26, 0.28);
  cairo_pattern_add_color_stop_rgb(skirt, 1.0, 0.07, 0.075, 0.085);
  cairo_arc(cr, c, c, s.body, 0, 2 * kPi);
  cairo_set_source(cr, skirt);
  cairo_fill(cr);
  cairo_pattern_destroy(skirt);
}

// Knurling turns with the knob.
void KnobKnurling(cairo_t* cr, const KnobStyle& s, double c, double angle)
{
  cairo_set_line_width(cr, s.size > 100 ? 1.3 : 0.9);
  for (int i = 0; i < s.knurls; ++i)
  {
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
}

// The pointer: an engraved line filled with white paint.
void KnobPointer(cairo_t* cr, const KnobStyle& s, double c, double angle)
{
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
}

}  // namespace

void DrawKnobFrame(cairo_t* cr, const KnobStyle& s, double value)
{
  const double c = s.size / 2.0;
  const double angle = kKnobMinDeg + (kKnobMaxDeg - kKnobMinDeg) * value;
  KnobValueRing(cr, s, c, angle);
  KnobSkirt(cr, s, c);
  KnobKnurling(cr, s, c, angle);

  // Gap between skirt and cap.
  cairo_arc(cr, c, c, s.cap + 1.2, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.65);
  cairo_fill(cr);

  MachinedCap(cr, c, c, s.cap);
  KnobPointer(cr, s, c, angle);

  if (s.accentDot)
  {
    double dx, dy;
    DialPoint(c, c, angle, (s.cap + s.body) / 2.0 + 0.5, &dx, &dy);
    cairo_arc(cr, dx, dy, 2.6, 0, 2 * kPi);
    SetRgb(cr, kAccent, 1.0);
    cairo_fill(cr);
  }
}

// ------------------------------------------------------------- switches --

namespace
{

// A push button's cap, lower and darker while held (press 1), lit along its
// top edge with the given strength.
void ButtonCap(cairo_t* cr, double x, double y, double w, double h, double r, double press, double top, double bottom,
               double edge)
{
  cairo_pattern_t* g = cairo_pattern_create_linear(0, y + press, 0, y + h + press);
  cairo_pattern_add_color_stop_rgb(g, 0, top, top * 1.01, top * 1.05);
  cairo_pattern_add_color_stop_rgb(g, 1, bottom, bottom * 1.01, bottom * 1.05);
  RoundedRect(cr, x, y + press, w, h - press, r);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  RoundedRect(cr, x + 0.5, y + press + 0.5, w - 1, h - press - 1, r - 0.5);
  cairo_pattern_t* e = cairo_pattern_create_linear(0, y, 0, y + h);
  cairo_pattern_add_color_stop_rgba(e, 0, 1, 1, 1, edge);
  cairo_pattern_add_color_stop_rgba(e, 0.4, 1, 1, 1, 0.0);
  cairo_set_source(cr, e);
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
  cairo_pattern_destroy(e);
}

}  // namespace

void DrawBypassFrame(cairo_t* cr, bool on)
{
  const double x = 4, y = 4, w = kBypassW - 8, h = kBypassH - 8;
  const double press = on ? 1.0 : 0.0;
  // Shadow and well.
  RoundedRect(cr, x - 2, y - 1, w + 4, h + 4, 7);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
  cairo_fill(cr);
  ButtonCap(cr, x, y, w, h, 5.5, press, on ? 0.20 : 0.27, on ? 0.11 : 0.13, on ? 0.12 : 0.25);
  // Lamp: a slit that glows red while the effect is bypassed.
  const double lw = 34, lh = 5, lx = (kBypassW - lw) / 2.0, ly = y + press + (h - lh) / 2.0;
  if (on)
  {
    for (int i = 4; i >= 1; --i)
    {
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
  }
  else
  {
    RoundedRect(cr, lx, ly, lw, lh, 2.5);
    cairo_set_source_rgb(cr, 0.20, 0.09, 0.08);
    cairo_fill(cr);
    RoundedRect(cr, lx, ly, lw, lh, 2.5);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
  }
}

namespace
{

// The sunken track of a slide toggle or a row of choices: dark, or amber
// when lit.
void Track(cairo_t* cr, double x, double y, double w, double h, double r, bool lit)
{
  RoundedRect(cr, x - 1, y - 1, w + 2, h + 3, r + 1);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.5);
  cairo_fill(cr);
  cairo_pattern_t* track = cairo_pattern_create_linear(0, y, 0, y + h);
  if (lit)
  {
    cairo_pattern_add_color_stop_rgb(track, 0, kAccent.r * 0.75, kAccent.g * 0.75, kAccent.b * 0.75);
    cairo_pattern_add_color_stop_rgb(track, 1, kAccent.r, kAccent.g, kAccent.b);
  }
  else
  {
    cairo_pattern_add_color_stop_rgb(track, 0, 0.05, 0.055, 0.06);
    cairo_pattern_add_color_stop_rgb(track, 1, 0.12, 0.125, 0.135);
  }
  RoundedRect(cr, x, y, w, h, r);
  cairo_set_source(cr, track);
  cairo_fill(cr);
  cairo_pattern_destroy(track);
}

// A slide toggle: thumb right and amber when lit.
void DrawPill(cairo_t* cr, double x, double y, bool lit)
{
  const double w = 32, h = 18, r = h / 2.0;
  Track(cr, x, y, w, h, r, lit);
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

}  // namespace

void DrawOversampleFrame(cairo_t* cr, bool on) { DrawPill(cr, 20, 5, on); }

// Sidechain value 0 is the external key input, value 1 the main input. The
// pill lights for the external key so that "SIDECHAIN" lit means what it says;
// the INT/EXT legend removes any doubt.
void DrawSidechainFrame(cairo_t* cr, bool internal)
{
  DrawPill(cr, 44, 6, !internal);
  Legend(cr, internal ? "INT" : "EXT", 36, 19, 9.0, Align::kRight, internal ? kLabelDim : kAccent, 1.0, 0.8);
}

namespace
{

// A row of equal segments in a dark track, one lit amber with its name in
// the panel's dark ink; the others keep their names in legend grey, so
// every choice can be read whichever is chosen.
void DrawSegments(cairo_t* cr, double x, double y, double w, double h, const char* const* names, int n, int lit,
                  double textSize)
{
  const double r = 4.5, seg = w / n;
  Track(cr, x, y, w, h, r, false);
  // The lit segment, clipped to the track so that the ends stay round.
  cairo_save(cr);
  RoundedRect(cr, x, y, w, h, r);
  cairo_clip(cr);
  cairo_pattern_t* g = cairo_pattern_create_linear(0, y, 0, y + h);
  cairo_pattern_add_color_stop_rgb(g, 0, kAccent.r, kAccent.g, kAccent.b);
  cairo_pattern_add_color_stop_rgb(g, 1, kAccent.r * 0.78, kAccent.g * 0.78, kAccent.b * 0.78);
  cairo_rectangle(cr, x + lit * seg + 1, y + 1, seg - 2, h - 2);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  cairo_rectangle(cr, x + lit * seg + 1, y + 1, seg - 2, 1);
  cairo_set_source_rgba(cr, 1, 0.95, 0.85, 0.45);
  cairo_fill(cr);
  cairo_restore(cr);
  // Grooves between the segments.
  for (int i = 1; i < n; ++i)
  {
    const double gx = std::floor(x + i * seg) + 0.5;
    cairo_move_to(cr, gx, y + 2);
    cairo_line_to(cr, gx, y + h - 2);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.8);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
  }
  for (int i = 0; i < n; ++i)
  {
    const double cx = x + (i + 0.5) * seg, baseline = y + h / 2.0 + textSize * 0.36;
    if (i == lit)
    {
      // Dark ink printed on the lit amber.
      Legend(cr, names[i], cx, baseline, textSize, Align::kCentre, {0.13, 0.09, 0.05}, 1.0, 0.6, true, false);
    }
    else
      Legend(cr, names[i], cx, baseline, textSize, Align::kCentre, kLabelDim, 1.0, 0.6);
  }
}

}  // namespace

void DrawDetectorFrame(cairo_t* cr, int value)
{
  static const char* const kNames[] = {"RIGHT", "LEFT", "LINKED", "MID"};
  DrawSegments(cr, 0.5, 5, kDetectorW - 1.0, 18, kNames, 4, value, 8.0);
}

void DrawListenFrame(cairo_t* cr, bool on) { DrawPill(cr, 4, 5, on); }

void DrawSlotFrame(cairo_t* cr, int slot)
{
  static const char* const kNames[] = {"A", "B"};
  DrawSegments(cr, 4, 4, kSlotW - 8, 20, kNames, 2, slot, 11.0);
}

// A button cap as Bypass has, smaller, with the direction of the copy on
// it: from the slot shown to the other.
void DrawCopyFrame(cairo_t* cr, int slot, bool pressed)
{
  const double x = 4, y = 4, w = kSlotW - 8, h = 20;
  const double press = pressed ? 1.0 : 0.0;
  RoundedRect(cr, x - 1, y - 1, w + 2, h + 3, 5.5);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.55);
  cairo_fill(cr);
  ButtonCap(cr, x, y, w, h, 4.5, press, pressed ? 0.18 : 0.27, pressed ? 0.10 : 0.13, pressed ? 0.10 : 0.25);
  // A and B where the A/B switch has them, the slot heard amber, as there,
  // and an arrow from it to the other; held down, the slot about to be
  // written lights too. The arrow is drawn as a path, so that it looks the
  // same whatever fonts are installed.
  const double cx = kSlotW / 2.0, baseline = y + press + h / 2.0 + 4.0;
  Legend(cr, "A", cx - 13, baseline, 11.0, Align::kCentre, slot == 0 || pressed ? kAccent : kLabel);
  Legend(cr, "B", cx + 13, baseline, 11.0, Align::kCentre, slot == 1 || pressed ? kAccent : kLabel);
  const double ay = y + press + h / 2.0, dir = slot == 0 ? 1.0 : -1.0;
  cairo_set_line_width(cr, 1.6);
  cairo_move_to(cr, cx - 6 * dir, ay);
  cairo_line_to(cr, cx + 4 * dir, ay);
  SetRgb(cr, kLabel, 1.0);
  cairo_stroke(cr);
  cairo_move_to(cr, cx + 6.5 * dir, ay);
  cairo_line_to(cr, cx + 2 * dir, ay - 3.5);
  cairo_line_to(cr, cx + 2 * dir, ay + 3.5);
  cairo_close_path(cr);
  cairo_fill(cr);
}

// ---------------------------------------------------------------- meter --

double MeterAngle(double value) { return kMeterRestDeg + (kMeterFullDeg - kMeterRestDeg) * value; }

// Gain reduction in dB shown at a meter value (linear reduction 1 - gain).
double MeterValueForDb(double db) { return 1.0 - std::pow(10.0, -db / 20.0); }

void DrawMeterFrame(cairo_t* cr, double value)
{
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

}  // namespace filmstrips
