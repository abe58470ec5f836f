#pragma once

// A transfer curve stored as 200 float samples: entry k stands for the input
// origin + k / scale. The end value is kept with the record but not read by
// the signal path.
struct CurveTable
{
  float origin;
  float end;
  float scale;
  int count;
  float values[200];
};

// The detector's curve (for non-negative driven values) and the preamp's
// curve. They hold the same numbers but are read differently and are kept as
// two records so either can be retuned on its own.
extern const CurveTable detector_table;
extern const CurveTable Tavlo_table;
