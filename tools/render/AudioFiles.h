#pragma once

// Audio in and out of tavlo-render through libsndfile, and the rule that a
// failed run leaves no file behind: everything is written under a temporary
// name beside its destination and renamed into place only at the end.

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "RenderOptions.h"

// A stream of stereo frames (mono sources are doubled), interleaved doubles.
class AudioSource
{
public:
  virtual ~AudioSource() {}
  virtual double Rate() const = 0;
  virtual int Channels() const = 0;  // as stored: 1 or 2
  virtual int64_t Frames() const = 0;
  // Reads up to n frames; returns the count read (0 at the end, -1 on a read error).
  virtual int64_t Read(double* stereo, int64_t n) = 0;
};

// Opens a WAV, AIFF or FLAC file; null with a message when it cannot be
// opened or holds something other than mono or stereo.
std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, std::string& error);

// The interleaved stereo frames given, at the given rate.
std::unique_ptr<AudioSource> MemorySource(std::vector<float> stereo, double rate);

// A file that appears under its final name only when committed.
class PendingFile
{
public:
  explicit PendingFile(const std::string& path);
  ~PendingFile();  // removes the temporary file unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::string& TempPath() const { return mTemp; }
  const std::string& Path() const { return mPath; }
  bool Commit(std::string& error);
  void Discard();

private:
  std::string mPath, mTemp;
  bool mDone = false;
  int mSlot = -1;
};

// Removes every uncommitted temporary file; safe inside a signal handler.
void RemovePendingFilesNow();

struct OutputFormat
{
  int sfFormat = 0;  // major | subtype
  int bits = 32;     // 16, 24 or 32 (float)
  const char* name = "";
};

// Picks the container from the extension and the sample format from bits;
// false with a message for an unknown extension or a pairing the container
// cannot hold.
bool ChooseOutputFormat(const std::string& path, SampleBits bits, OutputFormat& format,
                        std::string& error);

// Stereo audio written to a pending file.
class AudioSink
{
public:
  AudioSink(const std::string& path, const OutputFormat& format, double rate);
  ~AudioSink();
  bool IsOpen() const { return mFile != nullptr; }
  const std::string& Error() const { return mError; }
  // Interleaved stereo; PCM formats are rounded and clipped, never wrapped.
  bool Write(const double* stereo, int64_t frames);
  // Closes the file and renames it into place.
  bool Commit(std::string& error);

private:
  PendingFile mPending;
  OutputFormat mFormat;
  SNDFILE* mFile = nullptr;
  std::string mError;
  std::vector<int> mInts;
};

// Writes bytes to a pending file (committed by the caller).
bool WriteWholeFile(PendingFile& file, const std::vector<uint8_t>& bytes, std::string& error);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Same file on disk (device and inode); false when either does not exist.
bool SameFile(const std::string& a, const std::string& b);
