#pragma once

// Drawing helpers the renderer's PNG plots share (cairo).

#include <cairo.h>

#include <string>

struct Rgb
{
  double r, g, b;
};
constexpr Rgb kInk{0.13, 0.14, 0.16}, kGrid{0.86, 0.87, 0.89}, kAxis{0.45, 0.46, 0.5};

void SetColour(cairo_t* cr, const Rgb& c, double a = 1.0);
// Text aligned by fractions of its extent (0 left/top, 0.5 centre, 1 right/bottom).
void Text(cairo_t* cr, double x, double y, const std::string& s, double size, bool bold, double alignX,
          double alignY, const Rgb& c);
// An axis title read bottom to top, centred on (x, y).
void AxisTitle(cairo_t* cr, double x, double y, const std::string& s);
// A round step for about `target` divisions of `span`.
double NiceStep(double span, int target);
std::string Fmt(const char* f, double v);
// Writes the surface to path; false with a message.
bool WritePng(cairo_surface_t* surface, const std::string& path, const char* what, std::string& error);
