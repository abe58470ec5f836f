#pragma once

// What the drawings of tavlo-filmstrips share: the panel's geometry and
// palette, the knob styles, the drawing helpers, and one function per film
// strip (TavloFilmstripsControls.cpp, TavloFilmstripsPanel.cpp).

#include <cairo.h>

#include <cstdint>

namespace filmstrips
{

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
constexpr int kToggleW = 56, kToggleH = 28;  // Oversample
constexpr int kSideW = 78, kSideH = 28;      // Sidechain (pill plus INT/EXT)
constexpr int kMeterW = 168, kMeterH = 124;
// Added after the first layout, in the footer and under Bypass.
constexpr int kDetectorW = 192, kDetectorH = 28;  // four named segments of 48
constexpr int kListenW = 40, kListenH = 28;
constexpr int kSlotW = 64, kSlotH = 28;  // A/B and the copy between them

struct Pos
{
  int x, y;
};
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
constexpr Pos kDetectorPos{268, 455};
constexpr Pos kListenPos{474, 455};
constexpr Pos kSlotPos{318, 374};
constexpr Pos kCopyPos{404, 374};

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

struct Rgb
{
  double r, g, b;
};
constexpr Rgb kAccent{0.949, 0.639, 0.227};  // warm amber
constexpr Rgb kBypassRed{1.0, 0.302, 0.239};
constexpr Rgb kLabel{0.80, 0.82, 0.84};
constexpr Rgb kLabelDim{0.50, 0.53, 0.56};

enum class Align
{
  kLeft,
  kCentre,
  kRight
};

// Deterministic noise so that reruns produce identical files.
struct Lcg
{
  uint32_t s = 0x2545F491u;
  double Next()
  {
    s = s * 1664525u + 1013904223u;
    return (s >> 8) / double(1u << 24);
  }
};

struct KnobStyle
{
  double size;       // frame edge in pixels
  double body;       // skirt radius
  double cap;        // machined cap radius
  double arcRadius;  // value ring radius
  double arcWidth;
  int knurls;
  bool accentDot;  // amber dot on the skirt (main knobs)
  bool bipolar;    // the ring lights from the centre (a gain around 0 dB)
};

inline const KnobStyle kBigStyle{kBigKnob, 49.0, 39.0, 60.0, 3.6, 72, true, false};
inline const KnobStyle kBigBipolarStyle{kBigKnob, 49.0, 39.0, 60.0, 3.6, 72, true, true};
inline const KnobStyle kSmallStyle{kSmallKnob, 16.5, 12.5, 21.0, 2.4, 36, false, false};

// Angles are degrees clockwise from straight up, like a dial.
double CairoAngle(double dialDeg);
void DialPoint(double cx, double cy, double dialDeg, double r, double* x, double* y);
void SetRgb(cairo_t* cr, const Rgb& c, double a = 1.0);
void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r);
// Caps text with a little tracking, the way panel legends are printed;
// engraved (a dark shadow under it) unless printed on a lit surface.
void Legend(cairo_t* cr, const char* text, double x, double baseline, double size, Align align, const Rgb& colour,
            double alpha = 1.0, double tracking = 1.4, bool bold = true, bool engraved = true);
// The meter's needle angle for a value, and the value that shows a gain
// reduction in dB.
double MeterAngle(double value);
double MeterValueForDb(double db);

// One frame of each film strip, and the background.
void DrawKnobFrame(cairo_t* cr, const KnobStyle& s, double value);
void DrawBypassFrame(cairo_t* cr, bool on);
void DrawOversampleFrame(cairo_t* cr, bool on);
void DrawSidechainFrame(cairo_t* cr, bool internal);
// value: 0 Right, 1 Left, 2 Linked, 3 Mid.
void DrawDetectorFrame(cairo_t* cr, int value);
void DrawListenFrame(cairo_t* cr, bool on);
// slot: 0 while A is shown, 1 while B is.
void DrawSlotFrame(cairo_t* cr, int slot);
void DrawCopyFrame(cairo_t* cr, int slot, bool pressed);
void DrawMeterFrame(cairo_t* cr, double value);
void DrawBackground(cairo_t* cr);

}  // namespace filmstrips
