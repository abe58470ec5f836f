#include "PlotDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void SetColour(cairo_t* cr, const Rgb& c, double a) { cairo_set_source_rgba(cr, c.r, c.g, c.b, a); }

void Text(cairo_t* cr, double x, double y, const std::string& s, double size, bool bold, double alignX,
          double alignY, const Rgb& c)
{
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  SetColour(cr, c);
  cairo_move_to(cr, x - alignX * e.width - e.x_bearing, y - alignY * e.height - e.y_bearing);
  cairo_show_text(cr, s.c_str());
}

void AxisTitle(cairo_t* cr, double x, double y, const std::string& s)
{
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -M_PI / 2);
  Text(cr, 0, 0, s, 16, false, 0.5, 0.5, kInk);
  cairo_restore(cr);
}

double NiceStep(double span, int target)
{
  const double raw = span / std::max(1, target);
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * mag) return m * mag;
  return 10.0 * mag;
}

std::string Fmt(const char* f, double v)
{
  char buf[64];
  snprintf(buf, sizeof(buf), f, v);
  return buf;
}

bool WritePng(cairo_surface_t* surface, const std::string& path, const char* what, std::string& error)
{
  const cairo_status_t st = cairo_surface_write_to_png(surface, path.c_str());
  if (st != CAIRO_STATUS_SUCCESS)
  {
    error = std::string("cannot write ") + what + " " + path + ": " + cairo_status_to_string(st);
    return false;
  }
  return true;
}
