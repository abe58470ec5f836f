#pragma once

// Standard error, shared by the progress bar and the messages: one writer
// at a time, and the bar is wiped before anything else is printed.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

class ProgressDisplay
{
public:
  // The bar shows only when show is set and standard error is a terminal.
  void Enable(int64_t totalFrames, int files, bool show);
  void Add(int64_t frames, double rate);
  void FileDone() { ++mFilesDone; }
  // Prints a whole line to out, the bar wiped first.
  void Print(FILE* out, const std::string& line);
  void Finish();

private:
  using Clock = std::chrono::steady_clock;
  static int Width();
  void Wipe();

  std::mutex mMutex;
  bool mEnabled = false, mShown = false;
  std::atomic<int64_t> mDone{0}, mAudioMicros{0};
  std::atomic<int> mFilesDone{0};
  int64_t mTotal = 0;  // -1: not known until the end
  int mFiles = 1;
  Clock::time_point mStart, mLast;
};

// The one display of this program.
ProgressDisplay& Progress();

// "tavlo-render: message" on standard error; returns code.
int Fail(const std::string& message, int code = kExitFailed);
// "tavlo-render: warning: message" on standard error.
void Warn(const std::string& message);
// "tavlo-render: message" on standard error, for what was done as asked.
void Note(const std::string& message);
