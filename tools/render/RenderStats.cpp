#include "RenderStats.h"

#include <algorithm>
#include <cmath>
#include <limits>

double ToDb(double linear)
{
  return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

RenderStats::RenderStats(double rate, int64_t expectedFrames, int columns)
  : mRate(rate), mWindowLen(std::max<int64_t>(1, (int64_t)std::llround(rate * kWindowSeconds)))
{
  columns = std::max(1, columns);
  mGrow = expectedFrames < 0;
  if (mGrow) columns *= 2;  // halved when full, so never fewer than asked for once full
  mPerColumn = mGrow ? 1 : std::max<int64_t>(1, (expectedFrames + columns - 1) / columns);
  const int64_t used = mGrow ? columns : std::max<int64_t>(1, (expectedFrames + mPerColumn - 1) / mPerColumn);
  mColumns.resize((size_t)used);
  mTouched.assign((size_t)used, false);
}

void RenderStats::Fold()
{
  const size_t half = mColumns.size() / 2;
  for (size_t i = 0; i < half; ++i)
  {
    const PlotColumn a = mColumns[2 * i], b = mColumns[2 * i + 1];
    const bool ta = mTouched[2 * i], tb = mTouched[2 * i + 1];
    PlotColumn& c = mColumns[i];
    c = ta ? a : b;
    if (ta && tb)
    {
      c.inMin = std::min(a.inMin, b.inMin); c.inMax = std::max(a.inMax, b.inMax);
      c.outMin = std::min(a.outMin, b.outMin); c.outMax = std::max(a.outMax, b.outMax);
    }
    c.hasGr = a.hasGr || b.hasGr;
    c.grMax = a.hasGr && b.hasGr ? std::max(a.grMax, b.grMax) : a.hasGr ? a.grMax : b.grMax;
    mTouched[i] = ta || tb;
  }
  for (size_t i = half; i < mColumns.size(); ++i)
  {
    mColumns[i] = PlotColumn();
    mTouched[i] = false;
  }
  mPerColumn *= 2;
}

void RenderStats::Add(const double* in, const double* out, int64_t frames, double expectedGain)
{
  mWinGain = expectedGain;
  for (int64_t i = 0; i < frames; ++i)
  {
    const double l = in[2 * i], r = in[2 * i + 1];
    const double ol = out[2 * i], orr = out[2 * i + 1];
    mPeakInCh[0] = std::max(mPeakInCh[0], std::fabs(l));
    mPeakInCh[1] = std::max(mPeakInCh[1], std::fabs(r));
    mPeakIn = std::max({mPeakIn, std::fabs(l), std::fabs(r)});
    mPeakOut = std::max({mPeakOut, std::fabs(ol), std::fabs(orr)});
    const double ei = l * l + r * r, eo = ol * ol + orr * orr;
    mSumIn += ei;
    mSumOut += eo;
    mWinIn += ei;
    mWinOut += eo;

    if (mGrow && mFrames / mPerColumn >= (int64_t)mColumns.size()) Fold();
    const size_t c = (size_t)std::min<int64_t>(mFrames / mPerColumn, (int64_t)mColumns.size() - 1);
    PlotColumn& col = mColumns[c];
    const float inLo = (float)std::min(l, r), inHi = (float)std::max(l, r);
    const float outLo = (float)std::min(ol, orr), outHi = (float)std::max(ol, orr);
    if (!mTouched[c])
    {
      col.inMin = inLo; col.inMax = inHi; col.outMin = outLo; col.outMax = outHi;
      mTouched[c] = true;
    }
    else
    {
      col.inMin = std::min(col.inMin, inLo); col.inMax = std::max(col.inMax, inHi);
      col.outMin = std::min(col.outMin, outLo); col.outMax = std::max(col.outMax, outHi);
    }
    ++mFrames;
    if (++mWindowFill == mWindowLen) CloseWindow();
  }
}

void RenderStats::CloseWindow()
{
  if (mWindowFill == 0) return;
  const double rmsIn = std::sqrt(mWinIn / (2.0 * mWindowFill));
  const double rmsOut = std::sqrt(mWinOut / (2.0 * mWindowFill));
  double gr = mLastGr;  // quiet windows hold the last reading in the plot
  if (ToDb(rmsIn) > kQuietDb && mWinGain > 0.0)
  {
    const double change = rmsOut > 0.0 ? ToDb(rmsOut / (rmsIn * mWinGain)) : -120.0;
    gr = std::max(0.0, -change);
    mGrMax = std::max(mGrMax, gr);
    mGrSum += gr;
    ++mGrWindows;
    mLastGr = gr;
  }
  const int64_t centre = mFrames - mWindowFill / 2 - 1;
  const size_t c = (size_t)std::min<int64_t>(std::max<int64_t>(0, centre) / mPerColumn, (int64_t)mColumns.size() - 1);
  mColumns[c].grMax = mColumns[c].hasGr ? std::max(mColumns[c].grMax, (float)gr) : (float)gr;
  mColumns[c].hasGr = true;
  mWinIn = mWinOut = 0.0;
  mWindowFill = 0;
}

void RenderStats::Finish()
{
  CloseWindow();
  // A length that was not known, or that the audio fell short of: the
  // columns cover what came.
  const int64_t used = std::max<int64_t>(1, (mFrames + mPerColumn - 1) / mPerColumn);
  if (used < (int64_t)mColumns.size()) mColumns.resize((size_t)used);
  // Columns narrower than a window borrow the reading of the one before.
  float last = 0.0f;
  for (PlotColumn& col : mColumns)
  {
    if (!col.hasGr) col.grMax = last;
    last = col.grMax;
  }
}

double RenderStats::PeakInDb() const { return ToDb(mPeakIn); }
double RenderStats::PeakOutDb() const { return ToDb(mPeakOut); }
double RenderStats::RmsInDb() const { return mFrames ? ToDb(std::sqrt(mSumIn / (2.0 * mFrames))) : ToDb(0); }
double RenderStats::RmsOutDb() const { return mFrames ? ToDb(std::sqrt(mSumOut / (2.0 * mFrames))) : ToDb(0); }
