// The panel behind the controls of tavlo-filmstrips (bg.png): brushed
// metal, legends, recesses, the knobs' scales and the meter's face.

#include <cmath>

#include "TavloFilmstripsArt.h"

namespace filmstrips
{

namespace
{

// ----------------------------------------------------------- background --

void PanelTexture(cairo_t* cr)
{
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
  for (int y = 0; y < kPanelH; ++y)
  {
    double x = 0;
    while (x < kPanelW)
    {
      const double len = 20 + rng.Next() * 140;
      const double v = rng.Next();
      cairo_move_to(cr, x, y + 0.5);
      cairo_line_to(cr, x + len, y + 0.5);
      cairo_set_source_rgba(cr, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, v > 0.5 ? 1 : 0, 0.012 + 0.012 * rng.Next());
      cairo_stroke(cr);
      x += len;
    }
  }
}

// A recessed area: dark fill, shadow at the top edge, light at the bottom.
void Recess(cairo_t* cr, double x, double y, double w, double h, double r, double depth = 0.28)
{
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

void Screw(cairo_t* cr, double x, double y)
{
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
void KnobSurround(cairo_t* cr, const Pos& p, const KnobStyle& s, bool ticks, const char* minText, const char* midText,
                  const char* maxText)
{
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
  for (int i = 0; i < n; ++i)
  {
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
  if (midText)
  {
    Legend(cr, midText, cx, cy - s.arcRadius - 12.0, 8.5, Align::kCentre, kLabelDim, 1.0, 0.3);
  }
}

// The meter's bezel, and its window: a dark face lit warmly from below,
// shaded along the top.
void MeterWindow(cairo_t* cr, double x, double y)
{
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
  cairo_pattern_t* face =
    cairo_pattern_create_radial(x + kMeterW / 2.0, y + kMeterH + 10, 10, x + kMeterW / 2.0, y + kMeterH, 170);
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
}

// The scale: its arc, amber from 10 dB of reduction on, with marks and numbers.
void MeterScale(cairo_t* cr, double x, double y)
{
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

  struct Mark
  {
    double db;
    const char* text;
  };
  const Mark marks[] = {{0, "0"}, {1, "1"},     {2, "2"},   {3, "3"},      {4, nullptr}, {5, nullptr},
                        {6, "6"}, {8, nullptr}, {10, "10"}, {15, nullptr}, {20, "20"}};
  for (const Mark& m : marks)
  {
    const double a = MeterAngle(MeterValueForDb(m.db));
    const bool major = m.text != nullptr;
    double x0, y0, x1, y1;
    DialPoint(px, py, a, scaleR - (major ? 1 : 0), &x0, &y0);
    DialPoint(px, py, a, scaleR + (major ? 8.0 : 5.0), &x1, &y1);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_set_line_width(cr, major ? 1.4 : 1.0);
    if (m.db >= 10)
      SetRgb(cr, kAccent, 1.0);
    else
      SetRgb(cr, kLabel, 0.95);
    cairo_stroke(cr);
    if (major)
    {
      double tx, ty;
      DialPoint(px, py, a, scaleR + 15.0, &tx, &ty);
      Legend(cr, m.text, tx, ty + 3.5, 9.0, Align::kCentre, m.db >= 10 ? kAccent : kLabel, 1.0, 0.2);
    }
  }
}

void MeterFace(cairo_t* cr)
{
  const double x = kMeterPos.x, y = kMeterPos.y;
  MeterWindow(cr, x, y);
  MeterScale(cr, x, y);
  Legend(cr, "GR", x + 10, y + kMeterH - 10, 8.0, Align::kLeft, kLabelDim, 1.0, 0.8);
  Legend(cr, "dB", x + kMeterW - 10, y + kMeterH - 10, 8.0, Align::kRight, kLabelDim, 1.0, 0.6, false);
}

}  // namespace

void DrawBackground(cairo_t* cr)
{
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
  Legend(cr, "DYNAMICS PROCESSOR", kPanelW - 26, 62, 7.5, Align::kRight, kLabelDim, 0.7, 2.0, false);

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
  Legend(cr, "GAIN REDUCTION", kPanelW / 2.0, kMeterPos.y + kMeterH + 30, 8.5, Align::kCentre, kLabelDim, 1.0, 2.2);

  // Main knobs.
  const double inCx = kInputPos.x + kBigKnob / 2.0, outCx = kOutputPos.x + kBigKnob / 2.0;
  Legend(cr, "INPUT", inCx, kInputPos.y - 20, 11.0, Align::kCentre, kLabel, 1.0, 2.6);
  Legend(cr, "OUTPUT", outCx, kOutputPos.y - 20, 11.0, Align::kCentre, kLabel, 1.0, 2.6);
  KnobSurround(cr, kInputPos, kBigStyle, true, "0", nullptr, "400");
  KnobSurround(cr, kOutputPos, kBigStyle, true, "-20", "0", "+20");

  // Bypass button well and legend.
  Recess(cr, kBypassPos.x - 4, kBypassPos.y - 2, kBypassW + 8, kBypassH + 4, 9, 0.35);
  Legend(cr, "BYPASS", kBypassPos.x + kBypassW / 2.0, kBypassPos.y + kBypassH + 20, 9.5, Align::kCentre, kLabel, 1.0,
         2.0);

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
  Legend(cr, "OVERSAMPLE", kOverPos.x + kToggleW + 4, kOverPos.y + 18, 9.0, Align::kLeft, kLabel, 1.0, 1.6);
  Legend(cr, "SIDECHAIN", kSidePos.x - 4, kSidePos.y + 19, 9.0, Align::kRight, kLabel, 1.0, 1.6);
  Legend(cr, "DETECTOR", kDetectorPos.x - 6, kDetectorPos.y + 18, 9.0, Align::kRight, kLabel, 1.0, 1.6);
  Legend(cr, "LISTEN", kListenPos.x + kListenW, kListenPos.y + 18, 9.0, Align::kLeft, kLabel, 1.0, 1.6);

  // The A/B comparison under Bypass: which settings are heard, and the copy
  // of them into the other slot.
  Legend(cr, "A / B", kSlotPos.x + kSlotW / 2.0, kSlotPos.y + kSlotH + 14, 8.5, Align::kCentre, kLabelDim, 1.0, 1.6);
  Legend(cr, "COPY", kCopyPos.x + kSlotW / 2.0, kCopyPos.y + kSlotH + 14, 8.5, Align::kCentre, kLabelDim, 1.0, 1.6);
}

}  // namespace filmstrips
