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

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "TavloFilmstripsArt.h"

using namespace filmstrips;

namespace {

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
void Detector(cairo_t* cr, int f, int) { DrawDetectorFrame(cr, f); }
void Listen(cairo_t* cr, int f, int) { DrawListenFrame(cr, f == 1); }
void Slot(cairo_t* cr, int f, int) { DrawSlotFrame(cr, f); }
// Frames: A shown, A shown and pressed, B shown, B shown and pressed.
void Copy(cairo_t* cr, int f, int) { DrawCopyFrame(cr, f / 2, f % 2 == 1); }

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
    {"Det.png", kDetectorW, kDetectorH, 4, Detector},
    {"Listen.png", kListenW, kListenH, 2, Listen},
    {"AB.png", kSlotW, kSlotH, 2, Slot},
    {"Copy.png", kSlotW, kSlotH, 4, Copy},
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
      {"Det.png", kDetectorPos, 0.0}, {"Listen.png", kListenPos, 0.0},
      {"AB.png", kSlotPos, 0.0},    {"Copy.png", kCopyPos, 0.0},
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
