#pragma once

#include <cmath>

// A linear cross-fade between two signals, A (weight 0) and B (weight 1),
// advanced one frame at a time. Every bypass switches through one: a jump
// from the processed to the untouched signal is a click, heard loudest
// where the two differ most (hard compression, a phase-shifted oversampled
// path).
//
// 5 ms: the switch's added slope is the difference of the two signals over
// 240 frames at 48 kHz, a fraction of a loud bass tone's own (a full-scale
// 100 Hz sine moves 0.013 per frame), while the fade stays shorter than a
// period of anything but deep bass, so it is heard as a switch, not as a
// fade, and the two signals' phase difference while oversampled never gets
// long enough to sound as a comb.
class IFxFade
{
public:
  static constexpr double kSeconds = 0.005;

  // The fade's length in frames at a sample rate: at least one frame.
  static int FramesAt(double sampleRate)
  {
    const double n = std::round(sampleRate * kSeconds);
    return n >= 1.0 ? (n < 1e6 ? (int)n : 1000000) : 1;
  }

  // Starts over: the next target is taken at once, with no fade, since
  // nothing has been heard yet to fade from.
  void Restart() { mPrimed = false; }

  // A new length keeps the weight reached as closely as frames allow.
  void SetLength(int frames)
  {
    if (frames < 1) frames = 1;
    if (frames == mLength) return;
    mPos = (int)((long long)mPos * frames / mLength);
    mLength = frames;
  }

  void SetTarget(bool toB)
  {
    mToB = toB;
    if (!mPrimed)
    {
      mPrimed = true;
      mPos = toB ? mLength : 0;
    }
  }

  bool AtA() const { return mPos == 0 && !mToB; }
  bool AtB() const { return mPos == mLength && mToB; }
  bool Settled() const { return mPos == (mToB ? mLength : 0); }
  // Frames until the fade settles at its target.
  int Remaining() const { return mToB ? mLength - mPos : mPos; }

  // One frame on toward the target; the weight of B for that frame, which
  // is exactly 0 or 1 once the fade has settled.
  double Next()
  {
    if (mToB && mPos < mLength) ++mPos;
    else if (!mToB && mPos > 0) --mPos;
    return (double)mPos / (double)mLength;
  }

  // a and b weighed for one frame; the ends give a or b unchanged.
  static double Mix(double a, double b, double w)
  {
    if (w <= 0.0) return a;
    if (w >= 1.0) return b;
    return a * (1.0 - w) + b * w;
  }

private:
  int mLength = 1;
  int mPos = 0;
  bool mToB = false;
  bool mPrimed = false;
};
