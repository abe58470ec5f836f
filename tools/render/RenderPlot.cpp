#include "RenderPlot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "PlotDrawing.h"

#if defined(__SANITIZE_ADDRESS__)
// cairo's text builds fontconfig's process-wide configuration, which lives
// as long as the program where the leak checker cannot see it; only FcFini
// would free it, and the plug-in code in this program still uses fontconfig
// while static objects are destroyed. Sanitizer builds are told so.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
  return "leak:libfontconfig.so\n";
}
#endif

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 940;
constexpr double kLeft = 96, kRight = 40;
constexpr double kTitleH = 84;
constexpr double kPanelGap = 46;
constexpr double kBottom = 70;

constexpr Rgb kIn{0.16, 0.42, 0.78}, kOut{0.91, 0.47, 0.10}, kGr{0.80, 0.15, 0.20};

// A panel's caption, on a light patch so the waveform under it stays legible.
void Caption(cairo_t* cr, double x, double y, const std::string& s, double alignY, const Rgb& c)
{
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 17);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  const double top = y - alignY * e.height;
  cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
  cairo_rectangle(cr, x - 6, top - 5, e.width + 12, e.height + 10);
  cairo_fill(cr);
  Text(cr, x, y, s, 17, true, 0.0, alignY, c);
}

struct Panel
{
  double x, y, w, h;
};

void Frame(cairo_t* cr, const Panel& p)
{
  cairo_set_line_width(cr, 1.0);
  SetColour(cr, kAxis);
  cairo_rectangle(cr, p.x + 0.5, p.y + 0.5, p.w, p.h);
  cairo_stroke(cr);
}

void TimeGrid(cairo_t* cr, const Panel& p, double seconds, bool labels)
{
  const double step = NiceStep(seconds, 16);
  cairo_set_line_width(cr, 1.0);
  for (double t = 0.0; t <= seconds + 1e-9; t += step)
  {
    const double x = std::floor(p.x + p.w * t / seconds) + 0.5;
    SetColour(cr, kGrid);
    cairo_move_to(cr, x, p.y);
    cairo_line_to(cr, x, p.y + p.h);
    cairo_stroke(cr);
    if (labels)
      Text(cr, x, p.y + p.h + 8, step < 1.0 ? Fmt("%.1f", t) : Fmt("%.0f", t), 15, false, 0.5, 0.0, kInk);
  }
}

void Waveform(cairo_t* cr, const Panel& p, const std::vector<PlotColumn>& cols, bool output,
              const Rgb& colour, const std::string& name)
{
  // Amplitude grid at -1, -0.5, 0, 0.5, 1, labelled in dBFS as well.
  const double mid = p.y + p.h / 2, half = p.h / 2 - 4;
  const double levels[5] = {1.0, 0.5, 0.0, -0.5, -1.0};
  for (double v : levels)
  {
    const double y = std::floor(mid - v * half) + 0.5;
    SetColour(cr, v == 0.0 ? kAxis : kGrid);
    cairo_move_to(cr, p.x, y);
    cairo_line_to(cr, p.x + p.w, y);
    cairo_stroke(cr);
    Text(cr, p.x - 8, y, v == 0.0 ? "0" : Fmt("%+.1f", v), 14, false, 1.0, 0.5, kInk);
  }
  const double n = (double)cols.size();
  SetColour(cr, colour, 0.9);
  for (size_t i = 0; i < cols.size(); ++i)
  {
    const double lo = std::max(-1.2, (double)(output ? cols[i].outMin : cols[i].inMin));
    const double hi = std::min(1.2, (double)(output ? cols[i].outMax : cols[i].inMax));
    const double x0 = p.x + p.w * i / n, x1 = p.x + p.w * (i + 1) / n;
    const double y0 = mid - std::min(hi, 1.0) * half, y1 = mid - std::max(lo, -1.0) * half;
    cairo_rectangle(cr, x0, y0, std::max(1.0, x1 - x0), std::max(1.0, y1 - y0));
  }
  cairo_fill(cr);
  Caption(cr, p.x + 12, p.y + 10, name, 0.0, colour);
}

}  // namespace

bool DrawRenderPlot(const RenderStats& stats, const PlotText& text, const std::string& path,
                    std::string& error)
{
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);

  const double seconds = std::max(1e-3, stats.Frames() / stats.Rate());
  const std::vector<PlotColumn>& cols = stats.Columns();

  Text(cr, kLeft, 20, text.title, 22, true, 0.0, 0.0, kInk);
  Text(cr, kLeft, 54, text.settings, 15, false, 0.0, 0.0, kAxis);

  const double usable = kHeight - kTitleH - kBottom - 2 * kPanelGap;
  const double waveH = usable * 0.3, grH = usable * 0.4;
  const double w = kWidth - kLeft - kRight;
  const Panel in{kLeft, kTitleH, w, waveH};
  const Panel out{kLeft, in.y + waveH + kPanelGap, w, waveH};
  const Panel gr{kLeft, out.y + waveH + kPanelGap, w, grH};

  for (const Panel* p : {&in, &out, &gr}) TimeGrid(cr, *p, seconds, p == &gr);
  Waveform(cr, in, cols, false, kIn,
           "Input   peak " + Fmt("%.1f", stats.PeakInDb()) + " dBFS, RMS " + Fmt("%.1f", stats.RmsInDb()) + " dBFS");
  Waveform(cr, out, cols, true, kOut,
           "Output   peak " + Fmt("%.1f", stats.PeakOutDb()) + " dBFS, RMS " + Fmt("%.1f", stats.RmsOutDb()) + " dBFS");

  // Gain reduction hangs down from 0 dB; the scale fits the largest value.
  const double top = std::max(3.0, std::ceil(stats.MaxGrDb() * 1.1));
  const double step = NiceStep(top, 6);
  const double range = std::ceil(top / step) * step;
  for (double d = 0.0; d <= range + 1e-9; d += step)
  {
    const double y = std::floor(gr.y + gr.h * d / range) + 0.5;
    SetColour(cr, d == 0.0 ? kAxis : kGrid);
    cairo_move_to(cr, gr.x, y);
    cairo_line_to(cr, gr.x + gr.w, y);
    cairo_stroke(cr);
    Text(cr, gr.x - 8, y, d == 0.0 ? "0" : Fmt("-%g", d), 14, false, 1.0, 0.5, kInk);
  }
  const double n = (double)cols.size();
  cairo_move_to(cr, gr.x, gr.y);
  for (size_t i = 0; i < cols.size(); ++i)
  {
    const double y = gr.y + gr.h * std::min((double)cols[i].grMax, range) / range;
    cairo_line_to(cr, gr.x + gr.w * (i + 0.5) / n, y);
  }
  cairo_line_to(cr, gr.x + gr.w, gr.y);
  cairo_close_path(cr);
  SetColour(cr, kGr, 0.25);
  cairo_fill_preserve(cr);
  SetColour(cr, kGr);
  cairo_set_line_width(cr, 1.6);
  cairo_stroke(cr);
  Caption(cr, gr.x + 12, gr.y + gr.h - 12, "Gain reduction   max " + Fmt("%.1f", stats.MaxGrDb()) + " dB, average " +
       Fmt("%.1f", stats.AvgGrDb()) + " dB (output level against input level times the Output gain)",
          1.0, kGr);

  for (const Panel* p : {&in, &out, &gr}) Frame(cr, *p);

  // Axis titles.
  Text(cr, kLeft + w / 2, kHeight - 26, "time (s)", 16, false, 0.5, 0.5, kInk);
  AxisTitle(cr, 24, in.y + (out.y + waveH - in.y) / 2, "amplitude (full scale = 1)");
  AxisTitle(cr, 24, gr.y + gr.h / 2, "gain reduction (dB)");

  cairo_destroy(cr);
  const bool ok = WritePng(surface, path, "plot", error);
  cairo_surface_destroy(surface);
  return ok;
}
