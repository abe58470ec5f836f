#pragma once

// Levels and gain reduction of a render, gathered block by block in memory
// that does not grow with the length of the audio.

#include <cstdint>
#include <vector>

struct PlotColumn
{
  float inMin = 0, inMax = 0, outMin = 0, outMax = 0;
  float grMax = 0;   // dB, largest reduction of the windows in the column
  bool hasGr = false;
};

// 20 log10 of a linear level, with silence as -inf.
double ToDb(double linear);

class RenderStats
{
public:
  // expectedFrames sizes the plot columns; frames past it land in the last.
  // Below 0 (not known) twice as many columns start one frame wide and
  // double in width whenever they are all full.
  RenderStats(double rate, int64_t expectedFrames, int columns = 1400);

  // Interleaved stereo in and out; expectedGain is what the output would be
  // over the input without any gain reduction (the make-up gain, or 1 when
  // bypassed).
  void Add(const double* in, const double* out, int64_t frames, double expectedGain);
  void Finish();

  int64_t Frames() const { return mFrames; }
  double Rate() const { return mRate; }
  double PeakInDb() const;
  // The input's peak on one channel (0 left, 1 right).
  double ChannelPeakInDb(int ch) const { return ToDb(mPeakInCh[ch ? 1 : 0]); }
  double PeakOutDb() const;
  double RmsInDb() const;
  double RmsOutDb() const;
  double MaxGrDb() const { return mGrMax; }
  double AvgGrDb() const { return mGrWindows ? mGrSum / mGrWindows : 0.0; }
  const std::vector<PlotColumn>& Columns() const { return mColumns; }
  int64_t FramesPerColumn() const { return mPerColumn; }

  // Windows quieter than this carry no gain-reduction reading.
  static constexpr double kQuietDb = -50.0;
  static constexpr double kWindowSeconds = 0.01;

private:
  void CloseWindow();
  void Fold();

  double mRate;
  int64_t mFrames = 0, mPerColumn = 1;
  double mPeakIn = 0, mPeakOut = 0, mSumIn = 0, mSumOut = 0;
  double mPeakInCh[2] = {0, 0};
  int64_t mWindowLen, mWindowFill = 0;
  double mWinIn = 0, mWinOut = 0, mWinGain = 1;
  double mGrMax = 0, mGrSum = 0, mLastGr = 0;
  int64_t mGrWindows = 0;
  std::vector<PlotColumn> mColumns;
  std::vector<bool> mTouched;
  bool mGrow = false;
};
