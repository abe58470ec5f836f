#pragma once

// What tavlo-render says about a finished file: the summary line, the same
// numbers as one JSON object, and the progress line while rendering.

#include <cstdint>
#include <string>
#include <vector>

struct ReportParam
{
  std::string name;
  double value = 0.0;  // in unit ("ms" for Attack), or 0/1 for a switch
  std::string unit;
  std::string text;    // "5.0 ms", "On"
  bool automated = false;
};

struct FileReport
{
  std::string output;  // as given; "-" is standard output
  std::string input;   // empty: the embedded loop; "-": standard input
  double rate = 0.0;
  int64_t frames = 0;
  double peakInDb = 0, rmsInDb = 0, peakOutDb = 0, rmsOutDb = 0;
  double grMaxDb = 0, grAvgDb = 0;
  int64_t clipped = 0, nonFinite = 0;
  double speed = 0.0;  // times real time
  std::vector<ReportParam> params;
};

std::string SummaryLine(const FileReport& r);
// One line, no newline; -inf levels are null.
std::string JsonLine(const FileReport& r);
std::string JsonString(const std::string& s);
// A number as JSON: shortest text that reads back the same; null when not finite.
std::string JsonNumber(double v);

// "[#####.....]  42%  2/5 files  310x  ETA 0:07", never wider than width - 1
// so a terminal does not wrap it; the bar goes first when space is short.
// A fraction below 0 (length unknown) gives "0:42  310x".
std::string ProgressLine(double fraction, double elapsedSeconds, double audioSeconds, int filesDone,
                         int filesTotal, int width);
