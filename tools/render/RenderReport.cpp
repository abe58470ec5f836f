#include "RenderReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string Fmt(const char* f, double v)
{
  char buf[64];
  snprintf(buf, sizeof(buf), f, v);
  return buf;
}

std::string Db(double db)
{
  return std::isfinite(db) ? Fmt("%.1f", db) : std::string("-inf");
}

std::string Name(const std::string& file, const char* dash, const char* none)
{
  return file.empty() ? none : file == "-" ? dash : file;
}

}  // namespace

std::string SummaryLine(const FileReport& r)
{
  const double seconds = r.rate > 0 ? r.frames / r.rate : 0.0;
  std::string s = Name(r.output, "standard output", "") + ": " + Fmt("%.2f", seconds) + " s at " +
                  Fmt("%.0f", r.rate) + " Hz, in peak " + Db(r.peakInDb) + " dBFS RMS " + Db(r.rmsInDb) +
                  " dBFS, out peak " + Db(r.peakOutDb) + " dBFS RMS " + Db(r.rmsOutDb) +
                  " dBFS, gain reduction max " + Fmt("%.1f", r.grMaxDb) + " dB avg " + Fmt("%.1f", r.grAvgDb) +
                  " dB, ";
  if (r.clipped) s += std::to_string(r.clipped) + " samples clipped, ";
  if (r.nonFinite) s += std::to_string(r.nonFinite) + " non-finite input samples, ";
  return s + Fmt("%.1f", r.speed) + "x real time";
}

namespace {

// Length of the well-formed UTF-8 sequence at s[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0.
size_t Utf8Length(const std::string& s, size_t i)
{
  const unsigned char c = (unsigned char)s[i];
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF)
  {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  }
  else if (c >= 0xF0 && c <= 0xF4)
  {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  }
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
  {
    const unsigned char b = (unsigned char)s[i + k];
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return 0;
  }
  return n;
}

}  // namespace

std::string JsonString(const std::string& s)
{
  // File names are bytes; a JSON string is Unicode. A byte that is not part
  // of well-formed UTF-8 becomes U+FFFD, so every parser accepts the line.
  std::string out = "\"";
  for (size_t i = 0; i < s.size();)
  {
    const unsigned char c = (unsigned char)s[i];
    const size_t n = Utf8Length(s, i);
    if (n == 0)
    {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') out += std::string("\\") + (char)c;
    else if (c < 0x20)
    {
      char buf[8];
      snprintf(buf, sizeof(buf), "\\u%04x", c);
      out += buf;
    }
    else out.append(s, i, n);
    i += n;
  }
  return out + "\"";
}

std::string JsonNumber(double v)
{
  if (!std::isfinite(v)) return "null";
  if (v == 0.0) return "0";
  // The fewest significant digits that read back the same, written out
  // without an exponent: "48000", not "4.8e+04".
  char buf[40];
  int digits = 1;
  for (; digits < 17; ++digits)
  {
    snprintf(buf, sizeof(buf), "%.*g", digits, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  snprintf(buf, sizeof(buf), "%.*e", digits - 1, v);
  const int exponent = atoi(strchr(buf, 'e') + 1);
  char plain[400];
  snprintf(plain, sizeof(plain), "%.*f", std::max(0, digits - 1 - exponent), v);
  return plain;
}

std::string JsonLine(const FileReport& r)
{
  std::string s = "{";
  s += "\"file\":" + JsonString(r.output);
  s += ",\"input\":" + (r.input.empty() ? std::string("null") : JsonString(r.input));
  s += ",\"rate_hz\":" + JsonNumber(r.rate);
  s += ",\"frames\":" + std::to_string(r.frames);
  s += ",\"duration_s\":" + JsonNumber(r.rate > 0 ? r.frames / r.rate : 0.0);
  s += ",\"parameters\":{";
  for (size_t i = 0; i < r.params.size(); ++i)
  {
    const ReportParam& p = r.params[i];
    s += (i ? "," : "") + JsonString(p.name) + ":{\"value\":" + JsonNumber(p.value) + ",\"unit\":" +
         JsonString(p.unit) + ",\"text\":" + JsonString(p.text) + ",\"automated\":" +
         (p.automated ? "true" : "false") + "}";
  }
  s += "}";
  s += ",\"peak_in_dbfs\":" + JsonNumber(r.peakInDb);
  s += ",\"rms_in_dbfs\":" + JsonNumber(r.rmsInDb);
  s += ",\"peak_out_dbfs\":" + JsonNumber(r.peakOutDb);
  s += ",\"rms_out_dbfs\":" + JsonNumber(r.rmsOutDb);
  s += ",\"gain_reduction_max_db\":" + JsonNumber(r.grMaxDb);
  s += ",\"gain_reduction_avg_db\":" + JsonNumber(r.grAvgDb);
  s += ",\"clipped_samples\":" + std::to_string(r.clipped);
  s += ",\"non_finite_samples\":" + std::to_string(r.nonFinite);
  s += ",\"speed_x_real_time\":" + JsonNumber(r.speed);
  return s + "}";
}

std::string ProgressLine(double fraction, double elapsed, double audioSeconds, int filesDone, int filesTotal,
                         int width)
{
  if (fraction < 0)
  {
    // Length unknown (WAV from a pipe that does not say): time and speed only.
    const long t = std::lround(elapsed);
    char buf[32];
    snprintf(buf, sizeof(buf), "%ld:%02ld", t / 60, t % 60);
    std::string line = buf;
    if (filesTotal > 1) line += "  " + std::to_string(filesDone) + "/" + std::to_string(filesTotal) + " files";
    if (elapsed > 0) line += "  " + Fmt("%.0fx", audioSeconds / elapsed);
    return line.substr(0, (size_t)std::max(0, width - 1));
  }
  fraction = std::min(1.0, fraction);
  std::string tail = Fmt("%3.0f%%", fraction * 100.0);
  if (filesTotal > 1) tail += "  " + std::to_string(filesDone) + "/" + std::to_string(filesTotal) + " files";
  if (elapsed > 0) tail += "  " + Fmt("%.0fx", audioSeconds / elapsed);
  if (fraction > 0 && elapsed > 0)
  {
    const long eta = std::lround(elapsed * (1.0 - fraction) / fraction);
    char buf[32];
    if (eta >= 3600) snprintf(buf, sizeof(buf), "  ETA %ld:%02ld:%02ld", eta / 3600, eta / 60 % 60, eta % 60);
    else snprintf(buf, sizeof(buf), "  ETA %ld:%02ld", eta / 60, eta % 60);
    tail += buf;
  }
  const int room = width - 1 - (int)tail.size() - 3;  // "[", "]", a space
  if (room < 10) return tail.substr(0, (size_t)std::max(0, width - 1));
  const int bar = std::min(room, 50);
  const int filled = (int)(fraction * bar);
  return "[" + std::string((size_t)filled, '#') + std::string((size_t)(bar - filled), '.') + "] " + tail;
}
