#include "ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "RenderReport.h"

void ProgressDisplay::Enable(int64_t totalFrames, int files, bool show)
{
  mEnabled = show && isatty(STDERR_FILENO);
  mTotal = totalFrames;
  mFiles = files;
  mStart = Clock::now();
}

void ProgressDisplay::Add(int64_t frames, double rate)
{
  mDone += frames;
  mAudioMicros += (int64_t)(frames / rate * 1e6);
  if (!mEnabled) return;
  std::unique_lock<std::mutex> lock(mMutex, std::try_to_lock);
  if (!lock.owns_lock()) return;
  const auto now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - mStart).count();
  if (elapsed < 1.0 || std::chrono::duration<double>(now - mLast).count() < 0.1) return;
  mLast = now;
  const double fraction = mTotal < 0 ? -1.0 : mTotal > 0 ? (double)mDone / mTotal : 0.0;
  const std::string line = ProgressLine(fraction, elapsed, mAudioMicros / 1e6, mFilesDone, mFiles, Width());
  fprintf(stderr, "\r%s\033[K", line.c_str());
  fflush(stderr);
  mShown = true;
}

void ProgressDisplay::Print(FILE* out, const std::string& line)
{
  std::lock_guard<std::mutex> lock(mMutex);
  Wipe();
  fprintf(out, "%s\n", line.c_str());
  fflush(out);
}

void ProgressDisplay::Finish()
{
  std::lock_guard<std::mutex> lock(mMutex);
  Wipe();
}

int ProgressDisplay::Width()
{
  winsize ws;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  const char* c = getenv("COLUMNS");
  return c && atoi(c) > 0 ? atoi(c) : 80;
}

void ProgressDisplay::Wipe()
{
  if (mShown) fprintf(stderr, "\r\033[K");
  mShown = false;
}

ProgressDisplay& Progress()
{
  static ProgressDisplay display;
  return display;
}

int Fail(const std::string& message, int code)
{
  Progress().Print(stderr, "tavlo-render: " + message);
  return code;
}

void Warn(const std::string& message)
{
  Progress().Print(stderr, "tavlo-render: warning: " + message);
}

void Note(const std::string& message)
{
  Progress().Print(stderr, "tavlo-render: " + message);
}
