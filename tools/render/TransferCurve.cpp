#include "TransferCurve.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "PlotDrawing.h"
#include "RenderReport.h"

namespace {

constexpr double kToneHz = 1000.0;
constexpr double kStepSeconds = 0.3;     // long enough for the attack to settle
constexpr double kMeasureSeconds = 0.1;  // the end of each step: 100 whole cycles
constexpr double kSineCrestDb = 3.0103;  // peak over RMS of a sine

// A 1 kHz sine rising by 1 dB every step, on both channels.
class StairTone : public AudioSource
{
public:
  explicit StairTone(int steps) : mSteps(steps) {}
  double Rate() const override { return kCurveRate; }
  int Channels() const override { return 2; }
  int64_t Frames() const override { return mSteps * StepFrames(); }
  int64_t Read(double* stereo, int64_t n) override
  {
    const int64_t got = std::min(n, Frames() - mPos);
    for (int64_t i = 0; i < got; ++i, ++mPos)
    {
      const double amp = std::pow(10.0, LevelDb((int)(mPos / StepFrames())) / 20.0);
      stereo[2 * i] = stereo[2 * i + 1] = amp * std::sin(2.0 * M_PI * kToneHz * (double)mPos / kCurveRate);
    }
    return got;
  }
  static int64_t StepFrames() { return (int64_t)(kStepSeconds * kCurveRate); }
  static double LevelDb(int step) { return kCurveLowDb + step; }

private:
  int mSteps;
  int64_t mPos = 0;
};

const Rgb kLineColours[] = {{0.55, 0.25, 0.70}, {0.16, 0.42, 0.78}, {0.13, 0.58, 0.33},
                            {0.91, 0.47, 0.10}, {0.80, 0.15, 0.20}, {0.40, 0.30, 0.20}};

// The chart: a square from kLo to kHi dB on both axes; ChartY keeps
// levels beyond it on its edges.
constexpr double kLeft = 90, kTop = 96, kSize = 760;
constexpr double kLo = kCurveLowDb, kHi = 0.0;
const double kDash[] = {6.0, 5.0};

double ChartX(double db) { return kLeft + kSize * (db - kLo) / (kHi - kLo); }
double ChartY(double db) { return kTop + kSize * (kHi - std::max(kLo, std::min(kHi, db))) / (kHi - kLo); }

void DrawGrid(cairo_t* cr)
{
  cairo_set_line_width(cr, 1.0);
  for (double d = kLo; d <= kHi + 1e-9; d += 6.0)
  {
    SetColour(cr, kGrid);
    cairo_move_to(cr, std::floor(ChartX(d)) + 0.5, kTop);
    cairo_line_to(cr, std::floor(ChartX(d)) + 0.5, kTop + kSize);
    cairo_move_to(cr, kLeft, std::floor(ChartY(d)) + 0.5);
    cairo_line_to(cr, kLeft + kSize, std::floor(ChartY(d)) + 0.5);
    cairo_stroke(cr);
    Text(cr, ChartX(d), kTop + kSize + 8, Fmt("%.0f", d), 14, false, 0.5, 0.0, kInk);
    Text(cr, kLeft - 8, ChartY(d), Fmt("%.0f", d), 14, false, 1.0, 0.5, kInk);
  }
}

// The measured lines and unity, clipped to the chart.
void DrawLines(cairo_t* cr, const std::vector<CurveLine>& lines)
{
  cairo_save(cr);
  cairo_rectangle(cr, kLeft, kTop, kSize, kSize);
  cairo_clip(cr);
  for (size_t i = 0; i < lines.size(); ++i)
  {
    const CurveLine& l = lines[i];
    SetColour(cr, kLineColours[i % (sizeof(kLineColours) / sizeof(kLineColours[0]))]);
    cairo_set_line_width(cr, 2.4);
    bool started = false;
    for (size_t k = 0; k < l.inDb.size(); ++k)
    {
      if (!std::isfinite(l.outDb[k])) continue;
      if (started) cairo_line_to(cr, ChartX(l.inDb[k]), ChartY(l.outDb[k]));
      else cairo_move_to(cr, ChartX(l.inDb[k]), ChartY(l.outDb[k]));
      started = true;
    }
    cairo_stroke(cr);
  }
  // Unity, output equal to input, over the lines so Input 0 shows beneath.
  SetColour(cr, kInk);
  cairo_set_line_width(cr, 1.2);
  cairo_set_dash(cr, kDash, 2, 0);
  cairo_move_to(cr, ChartX(kLo), ChartY(kLo));
  cairo_line_to(cr, ChartX(kHi), ChartY(kHi));
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_restore(cr);
}

// Lines that leave the chart at the bottom say where they end.
void LabelLinesBelow(cairo_t* cr, const std::vector<CurveLine>& lines)
{
  int below = 0;
  for (size_t i = 0; i < lines.size(); ++i)
  {
    const double last = lines[i].outDb.back();
    if (last >= kLo) continue;
    Text(cr, kLeft + kSize - 10, kTop + kSize - 14 - 22 * below++,
         "Input " + Fmt("%g", lines[i].input) + ": " + (std::isfinite(last) ? Fmt("%.1f", last) : std::string("-inf")) +
           " dBFS at " + Fmt("%.0f", lines[i].inDb.back()) + " dBFS in",
         14, false, 1.0, 1.0, kLineColours[i % (sizeof(kLineColours) / sizeof(kLineColours[0]))]);
  }
}

// Legend to the right, with each line's knee.
void DrawLegend(cairo_t* cr, const std::vector<CurveLine>& lines)
{
  const double lx = kLeft + kSize + 20;
  Text(cr, lx, kTop, "Input", 16, true, 0.0, 0.0, kInk);
  for (size_t i = 0; i < lines.size(); ++i)
  {
    const double y = kTop + 34 + 28 * i;
    SetColour(cr, kLineColours[i % (sizeof(kLineColours) / sizeof(kLineColours[0]))]);
    cairo_set_line_width(cr, 3.0);
    cairo_move_to(cr, lx, y + 8);
    cairo_line_to(cr, lx + 26, y + 8);
    cairo_stroke(cr);
    Text(cr, lx + 34, y + 8, Fmt("%g", lines[i].input), 15, false, 0.0, 0.5, kInk);
  }
  const double ly = kTop + 34 + 28 * lines.size() + 10;
  SetColour(cr, kInk);
  cairo_set_line_width(cr, 1.2);
  cairo_set_dash(cr, kDash, 2, 0);
  cairo_move_to(cr, lx, ly + 8);
  cairo_line_to(cr, lx + 26, ly + 8);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  Text(cr, lx + 34, ly + 8, "unity", 15, false, 0.0, 0.5, kInk);
}

}  // namespace

bool MeasureCurves(const CurveRequest& request, std::vector<CurveLine>& lines, std::string& error)
{
  const int steps = (int)(-kCurveLowDb) + 1;
  const int64_t stepFrames = StairTone::StepFrames();
  const int64_t measureFrom = stepFrames - (int64_t)(kMeasureSeconds * kCurveRate);
  lines.clear();
  for (double input : request.inputs)
  {
    PluginSession plug;
    if (!plug.Load(request.module, error) ||
        !plug.Start(kCurveRate, request.block, request.precision, false, error))
      return false;
    EngineSetup setup;
    setup.rate = kCurveRate;
    setup.block = request.block;
    setup.precision = request.precision;
    setup.first = request.settings;
    setup.first.push_back({request.inputId, input});

    std::vector<double> energy(steps, 0.0);
    auto onBlock = [&](const BlockView& b, std::string&) {
      for (int64_t i = 0; i < b.frames; ++i)
      {
        const int64_t at = b.pos + i;
        if (at % stepFrames < measureFrom) continue;
        energy[(size_t)(at / stepFrames)] += b.out[2 * i] * b.out[2 * i] + b.out[2 * i + 1] * b.out[2 * i + 1];
      }
      return true;
    };
    StairTone tone(steps);
    EngineCounts counts;
    if (!RunEngine(plug, tone, nullptr, setup, onBlock, counts, error)) return false;
    plug.Stop();

    CurveLine line;
    line.input = input;
    const double n = 2.0 * (double)(stepFrames - measureFrom);
    for (int k = 0; k < steps; ++k)
    {
      line.inDb.push_back(StairTone::LevelDb(k));
      line.outDb.push_back(energy[k] > 0 ? 10.0 * std::log10(energy[k] / n) + kSineCrestDb : -INFINITY);
    }
    lines.push_back(line);
  }
  return true;
}

double CurveKneeDb(const CurveLine& line)
{
  for (size_t k = 0; k < line.inDb.size(); ++k)
    if (line.outDb[k] < line.inDb[k] - 1.0) return line.inDb[k];
  return NAN;
}

std::string DescribeCurve(const CurveLine& line)
{
  std::string s = "Input " + Fmt("%g", line.input) + ": ";
  const double knee = CurveKneeDb(line);
  if (std::isnan(knee))
    return s + "unity from " + Fmt("%.0f", line.inDb.front()) + " to " + Fmt("%.0f", line.inDb.back()) +
           " dBFS (within 1 dB)";
  s += "1 dB of compression from " + Fmt("%.0f", knee) + " dBFS in; ";
  const size_t top = (size_t)(std::max_element(line.outDb.begin(), line.outDb.end()) - line.outDb.begin());
  const double last = line.outDb.back();
  if (top + 1 < line.outDb.size() && line.outDb[top] - last > 1.0)
    return s + "the output peaks at " + Fmt("%.1f", line.outDb[top]) + " dBFS (" + Fmt("%.0f", line.inDb[top]) +
           " dBFS in) and falls to " + Fmt("%.1f", last) + " dBFS at " + Fmt("%.0f", line.inDb.back()) +
           " dBFS in: louder comes out quieter";
  return s + Fmt("%.0f", line.inDb.back()) + " dBFS in comes out at " + Fmt("%.1f", last) + " dBFS";
}

std::string CurveJson(const std::string& file, const std::vector<CurveLine>& lines)
{
  std::string s = "{\"curve\":" + JsonString(file) + ",\"tone_hz\":" + JsonNumber(kToneHz) + ",\"lines\":[";
  for (size_t i = 0; i < lines.size(); ++i)
  {
    const CurveLine& l = lines[i];
    s += std::string(i ? "," : "") + "{\"input\":" + JsonNumber(l.input) + ",\"knee_dbfs\":" +
         JsonNumber(CurveKneeDb(l)) + ",\"in_dbfs\":[";
    for (size_t k = 0; k < l.inDb.size(); ++k) s += (k ? "," : "") + JsonNumber(l.inDb[k]);
    s += "],\"out_dbfs\":[";
    for (size_t k = 0; k < l.outDb.size(); ++k) s += (k ? "," : "") + JsonNumber(l.outDb[k]);
    s += "]}";
  }
  return s + "]}";
}

bool DrawCurvePlot(const std::vector<CurveLine>& lines, const std::string& subtitle, const std::string& path,
                   std::string& error)
{
  constexpr int kW = 1000, kH = 960;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kW, kH);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  Text(cr, kLeft, 20, "Tavlo: static curve, steady 1 kHz tone", 22, true, 0.0, 0.0, kInk);
  Text(cr, kLeft, 54, subtitle, 15, false, 0.0, 0.0, kAxis);

  DrawGrid(cr);
  DrawLines(cr, lines);
  LabelLinesBelow(cr, lines);
  SetColour(cr, kAxis);
  cairo_rectangle(cr, kLeft + 0.5, kTop + 0.5, kSize, kSize);
  cairo_stroke(cr);
  DrawLegend(cr, lines);

  Text(cr, kLeft + kSize / 2, kTop + kSize + 44, "input level (dBFS, tone peak)", 16, false, 0.5, 0.5, kInk);
  AxisTitle(cr, 26, kTop + kSize / 2, "output level (dBFS, peak of a sine of equal RMS)");

  cairo_destroy(cr);
  const bool ok = WritePng(surface, path, "curve", error);
  cairo_surface_destroy(surface);
  return ok;
}
