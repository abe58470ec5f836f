#include "AudioFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Temporary names a signal handler may have to remove. Fixed storage, so
// the handler touches no allocator.
constexpr int kMaxPending = 8;
constexpr size_t kMaxPath = 4096;
char gPendingPaths[kMaxPending][kMaxPath];
std::atomic<bool> gPendingUsed[kMaxPending];

int ClaimSlot(const std::string& path)
{
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxPending; ++i)
  {
    bool expected = false;
    if (gPendingUsed[i].compare_exchange_strong(expected, true))
    {
      memcpy(gPendingPaths[i], path.c_str(), path.size() + 1);
      return i;
    }
  }
  return -1;
}

void ReleaseSlot(int slot)
{
  if (slot >= 0) gPendingUsed[slot].store(false);
}

class SndfileSource : public AudioSource
{
public:
  SndfileSource(SNDFILE* f, const SF_INFO& info) : mFile(f), mInfo(info) {}
  ~SndfileSource() override { sf_close(mFile); }
  double Rate() const override { return mInfo.samplerate; }
  int Channels() const override { return mInfo.channels; }
  int64_t Frames() const override { return mInfo.frames; }
  int64_t Read(double* stereo, int64_t n) override
  {
    const int64_t got = sf_readf_double(mFile, stereo, n);
    if (got < 0 || (got < n && sf_error(mFile) != SF_ERR_NO_ERROR)) return -1;
    if (mInfo.channels == 1)
      for (int64_t i = got - 1; i >= 0; --i)  // spread in place, from the end
        stereo[2 * i] = stereo[2 * i + 1] = stereo[i];
    return got;
  }

private:
  SNDFILE* mFile;
  SF_INFO mInfo;
};

class StereoMemorySource : public AudioSource
{
public:
  StereoMemorySource(std::vector<float> frames, double rate) : mFrames(std::move(frames)), mRate(rate) {}
  double Rate() const override { return mRate; }
  int Channels() const override { return 2; }
  int64_t Frames() const override { return (int64_t)mFrames.size() / 2; }
  int64_t Read(double* stereo, int64_t n) override
  {
    const int64_t got = std::min<int64_t>(n, Frames() - mPos);
    for (int64_t i = 0; i < 2 * got; ++i) stereo[i] = mFrames[2 * mPos + i];
    mPos += got;
    return got;
  }

private:
  std::vector<float> mFrames;
  double mRate;
  int64_t mPos = 0;
};

std::string Extension(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& ch : ext) ch = (char)tolower((unsigned char)ch);
  return ext;
}

}  // namespace

std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, std::string& error)
{
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
  {
    error = "cannot open " + path + ": " + strerror(errno);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode))
  {
    error = "cannot read " + path + ": it is a folder";
    return nullptr;
  }
  SF_INFO info;
  memset(&info, 0, sizeof(info));
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f)
  {
    error = "cannot read " + path + " as audio: " + sf_strerror(nullptr);
    return nullptr;
  }
  if (info.channels < 1 || info.channels > 2)
  {
    error = path + " has " + std::to_string(info.channels) + " channels; only mono and stereo are taken";
    sf_close(f);
    return nullptr;
  }
  if (info.samplerate <= 0)
  {
    error = path + " has no valid sample rate";
    sf_close(f);
    return nullptr;
  }
  return std::unique_ptr<AudioSource>(new SndfileSource(f, info));
}

std::unique_ptr<AudioSource> MemorySource(std::vector<float> stereo, double rate)
{
  return std::unique_ptr<AudioSource>(new StereoMemorySource(std::move(stereo), rate));
}

// ---- pending files ----------------------------------------------------

PendingFile::PendingFile(const std::string& path) : mPath(path)
{
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  mTemp = dir + "." + base + ".partial-" + std::to_string((long)getpid());
  mSlot = ClaimSlot(mTemp);
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard()
{
  if (!mDone) unlink(mTemp.c_str());
  mDone = true;
  ReleaseSlot(mSlot);
  mSlot = -1;
}

bool PendingFile::Commit(std::string& error)
{
  if (mDone)
  {
    error = "internal: " + mPath + " committed twice";
    return false;
  }
  if (rename(mTemp.c_str(), mPath.c_str()) != 0)
  {
    error = "cannot write " + mPath + ": " + strerror(errno);
    Discard();
    return false;
  }
  mDone = true;
  ReleaseSlot(mSlot);
  mSlot = -1;
  return true;
}

void RemovePendingFilesNow()
{
  for (int i = 0; i < kMaxPending; ++i)
    if (gPendingUsed[i].load()) unlink(gPendingPaths[i]);
}

// ---- output -----------------------------------------------------------

bool ChooseOutputFormat(const std::string& path, SampleBits bits, OutputFormat& format,
                        std::string& error)
{
  const std::string ext = Extension(path);
  int major = 0;
  if (ext == "wav") major = SF_FORMAT_WAV;
  else if (ext == "aif" || ext == "aiff") major = SF_FORMAT_AIFF;
  else if (ext == "flac") major = SF_FORMAT_FLAC;
  else
  {
    error = "cannot tell the format of " + path + " (use .wav, .aif, .aiff or .flac)";
    return false;
  }
  if (bits == SampleBits::kDefault) bits = major == SF_FORMAT_FLAC ? SampleBits::k24 : SampleBits::k32f;
  if (major == SF_FORMAT_FLAC && bits == SampleBits::k32f)
  {
    error = "FLAC holds 16- or 24-bit samples, not 32-bit float (use --bits 16 or 24)";
    return false;
  }
  switch (bits)
  {
    case SampleBits::k16: format.sfFormat = major | SF_FORMAT_PCM_16; format.bits = 16; break;
    case SampleBits::k24: format.sfFormat = major | SF_FORMAT_PCM_24; format.bits = 24; break;
    default: format.sfFormat = major | SF_FORMAT_FLOAT; format.bits = 32; break;
  }
  format.name = major == SF_FORMAT_WAV ? "WAV" : major == SF_FORMAT_AIFF ? "AIFF" : "FLAC";
  return true;
}

AudioSink::AudioSink(const std::string& path, const OutputFormat& format, double rate)
  : mPending(path), mFormat(format)
{
  SF_INFO info;
  memset(&info, 0, sizeof(info));
  info.samplerate = (int)rate;
  info.channels = 2;
  info.format = format.sfFormat;
  if (!sf_format_check(&info))
  {
    mError = "cannot write " + path + ": the format does not allow " + std::to_string((int)rate) + " Hz";
    return;
  }
  mFile = sf_open(mPending.TempPath().c_str(), SFM_WRITE, &info);
  if (!mFile) mError = "cannot write " + path + ": " + sf_strerror(nullptr);
}

AudioSink::~AudioSink()
{
  if (mFile) sf_close(mFile);
  mFile = nullptr;
}

bool AudioSink::Write(const double* stereo, int64_t frames)
{
  if (!mFile) return false;
  int64_t written = 0;
  if (mFormat.bits == 32)
    written = sf_writef_double(mFile, stereo, frames);
  else
  {
    // Our own rounding and clipping: libsndfile's double-to-PCM path scales
    // by 2^(bits-1) - 1 while its reader divides by 2^(bits-1), so a PCM
    // file would not come back sample for sample.
    const double scale = mFormat.bits == 16 ? 32768.0 : 8388608.0;
    const double top = scale - 1.0;
    const int shift = 32 - mFormat.bits;
    mInts.resize((size_t)(2 * frames));
    for (int64_t i = 0; i < 2 * frames; ++i)
    {
      double v = std::nearbyint(stereo[i] * scale);
      if (!(v >= -scale)) v = std::isnan(v) ? 0.0 : -scale;
      if (v > top) v = top;
      mInts[(size_t)i] = (int)((uint32_t)(int32_t)v << shift);
    }
    written = sf_writef_int(mFile, mInts.data(), frames);
  }
  if (written != frames)
  {
    mError = "cannot write " + mPending.Path() + ": " + sf_strerror(mFile);
    return false;
  }
  return true;
}

bool AudioSink::Commit(std::string& error)
{
  if (!mFile)
  {
    error = mError;
    return false;
  }
  const int rc = sf_close(mFile);
  mFile = nullptr;
  if (rc != 0)
  {
    error = "cannot write " + mPending.Path() + ": " + sf_error_number(rc);
    return false;
  }
  return mPending.Commit(error);
}

bool WriteWholeFile(PendingFile& file, const std::vector<uint8_t>& bytes, std::string& error)
{
  FILE* f = fopen(file.TempPath().c_str(), "wb");
  if (!f)
  {
    error = "cannot write " + file.Path() + ": " + strerror(errno);
    return false;
  }
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = fclose(f) == 0;
  if (!ok || !closed)
  {
    error = "cannot write " + file.Path() + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error)
{
  FILE* f = fopen(path.c_str(), "rb");
  if (!f)
  {
    error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  bytes.clear();
  uint8_t chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
  {
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > (16u << 20))
    {
      fclose(f);
      error = path + " is too large to be a plug-in state";
      return false;
    }
  }
  const bool bad = ferror(f);
  fclose(f);
  if (bad)
  {
    error = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b)
{
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
