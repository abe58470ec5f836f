#include "AudioFiles.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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

// Standard input copied to an unnamed temporary file, so every format
// libsndfile reads (FLAC and AIFF too) can be read from a pipe, and the
// length is known for the progress bar.
int SpoolStandardInput(std::string& error)
{
  if (isatty(STDIN_FILENO))
  {
    error = "standard input is a terminal; pipe audio into it or name an INPUT file";
    return -1;
  }
  const char* tmp = getenv("TMPDIR");
  const int fd = open(tmp && *tmp ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0)
  {
    error = std::string("cannot hold standard input in a temporary file: ") + strerror(errno);
    return -1;
  }
  char buf[1 << 16];
  for (;;)
  {
    const ssize_t n = read(STDIN_FILENO, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
    {
      error = std::string("cannot read standard input: ") + strerror(errno);
      close(fd);
      return -1;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;)
    {
      const ssize_t w = write(fd, buf + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
      {
        error = std::string("cannot hold standard input in a temporary file: ") + strerror(errno);
        close(fd);
        return -1;
      }
      done += w;
    }
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

void PutU16(unsigned char* p, uint32_t v) { p[0] = (unsigned char)v; p[1] = (unsigned char)(v >> 8); }
void PutU32(unsigned char* p, uint32_t v)
{
  PutU16(p, v & 0xFFFF);
  PutU16(p + 2, v >> 16);
}

// RIFF, an 18-byte fmt chunk (IEEE float, with the cbSize word every
// non-PCM format carries), fact, and the data chunk's header.
constexpr size_t kWavHeaderBytes = 12 + 8 + 18 + 8 + 4 + 8;
constexpr int64_t kWavMaxData = 0xFFFFFFFFll - (int64_t)kWavHeaderBytes;

}  // namespace

std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, std::string& error)
{
  const bool stdinput = path == "-";
  const std::string name = stdinput ? "standard input" : path;
  SF_INFO info;
  memset(&info, 0, sizeof(info));
  SNDFILE* f = nullptr;
  if (stdinput)
  {
    const int fd = SpoolStandardInput(error);
    if (fd < 0) return nullptr;
    f = sf_open_fd(fd, SFM_READ, &info, 1);
    if (!f) close(fd);
  }
  else
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
    f = sf_open(path.c_str(), SFM_READ, &info);
  }
  if (!f)
  {
    error = "cannot read " + name + " as audio: " + sf_strerror(nullptr);
    return nullptr;
  }
  if (info.channels < 1 || info.channels > 2)
  {
    error = name + " has " + std::to_string(info.channels) + " channels; only mono and stereo are taken";
    sf_close(f);
    return nullptr;
  }
  if (info.samplerate < kMinRate || info.samplerate > kMaxRate)
  {
    error = name + " is " + std::to_string(info.samplerate) + " Hz; tavlo-render takes " +
            std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) + " Hz";
    sf_close(f);
    return nullptr;
  }
  return std::unique_ptr<AudioSource>(new SndfileSource(f, info));
}

std::unique_ptr<AudioSource> MemorySource(std::vector<float> stereo, double rate)
{
  return std::unique_ptr<AudioSource>(new StereoMemorySource(std::move(stereo), rate));
}

// ---- output -----------------------------------------------------------

bool ChooseOutputFormat(const std::string& path, const std::string& container, SampleBits bits,
                        OutputFormat& format, std::string& error)
{
  const std::string ext = !container.empty() ? container : path == "-" ? "wav" : Extension(path);
  int major = 0;
  if (ext == "wav") major = SF_FORMAT_WAV;
  else if (ext == "aif" || ext == "aiff") major = SF_FORMAT_AIFF;
  else if (ext == "flac") major = SF_FORMAT_FLAC;
  else
  {
    error = "cannot tell the format of " + path + " (use .wav, .aif, .aiff or .flac, or --format)";
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

bool ChooseOutputFormat(const std::string& path, SampleBits bits, OutputFormat& format, std::string& error)
{
  return ChooseOutputFormat(path, "", bits, format, error);
}

AudioSink::AudioSink(const OutputTarget& target, const OutputFormat& format, double rate)
  : mPending(target), mFormat(format)
{
  Open(rate);
}

AudioSink::AudioSink(const std::string& path, const OutputFormat& format, double rate)
  : mPending(path), mFormat(format)
{
  Open(rate);
}

void AudioSink::Open(double rate)
{
  const std::string& path = mPending.Path();
  mRate = (int)rate;
  if (mPending.TempPath().empty())
  {
    mError = "cannot write " + path + ": " + mPending.TempError();
    return;
  }
  if (mFormat.sfFormat == (SF_FORMAT_WAV | SF_FORMAT_FLOAT))
  {
    mWav = fopen(mPending.TempPath().c_str(), "wb");
    if (!mWav || !WriteWavHeader(0))
      mError = "cannot write " + path + ": " + strerror(errno);
    return;
  }
  SF_INFO info;
  memset(&info, 0, sizeof(info));
  info.samplerate = mRate;
  info.channels = 2;
  info.format = mFormat.sfFormat;
  if (!sf_format_check(&info))
  {
    mError = "cannot write " + path + ": the format does not allow " + std::to_string(mRate) + " Hz";
    return;
  }
  mFile = sf_open(mPending.TempPath().c_str(), SFM_WRITE, &info);
  if (!mFile) mError = "cannot write " + path + ": " + sf_strerror(nullptr);
}

AudioSink::~AudioSink()
{
  if (mFile) sf_close(mFile);
  if (mWav) fclose(mWav);
  mFile = nullptr;
  mWav = nullptr;
}

bool AudioSink::WriteWavHeader(int64_t frames)
{
  const uint32_t data = (uint32_t)(frames * 8);
  unsigned char h[kWavHeaderBytes];
  memcpy(h, "RIFF", 4);
  PutU32(h + 4, (uint32_t)(kWavHeaderBytes - 8 + data));
  memcpy(h + 8, "WAVEfmt ", 8);
  PutU32(h + 16, 18);
  PutU16(h + 20, 3);  // IEEE float
  PutU16(h + 22, 2);
  PutU32(h + 24, (uint32_t)mRate);
  PutU32(h + 28, (uint32_t)mRate * 8);
  PutU16(h + 32, 8);
  PutU16(h + 34, 32);
  PutU16(h + 36, 0);  // no extension
  memcpy(h + 38, "fact", 4);
  PutU32(h + 42, 4);
  PutU32(h + 46, (uint32_t)frames);
  memcpy(h + 50, "data", 4);
  PutU32(h + 54, data);
  return fseek(mWav, 0, SEEK_SET) == 0 && fwrite(h, 1, sizeof(h), mWav) == sizeof(h);
}

bool AudioSink::Write(const double* stereo, int64_t frames)
{
  if (!IsOpen()) return false;
  if (mWav)
  {
    if ((mWavFrames + frames) * 8 > kWavMaxData)
    {
      mError = "cannot write " + mPending.Path() + ": a WAV file ends at 4 GiB (use FLAC, or --bits 16 or 24)";
      return false;
    }
    mFloats.resize((size_t)(2 * frames));
    for (int64_t i = 0; i < 2 * frames; ++i) mFloats[(size_t)i] = (float)stereo[i];
    if (fwrite(mFloats.data(), sizeof(float), mFloats.size(), mWav) != mFloats.size())
    {
      mError = "cannot write " + mPending.Path() + ": " + strerror(errno);
      return false;
    }
    mWavFrames += frames;
    return true;
  }
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
      if (!(v >= -scale))
      {
        mClipped += !std::isnan(v);
        v = std::isnan(v) ? 0.0 : -scale;
      }
      if (v > top)
      {
        ++mClipped;
        v = top;
      }
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

bool AudioSink::Finish(std::string& error)
{
  if (!IsOpen())
  {
    error = mError;
    return false;
  }
  bool ok;
  std::string why;
  if (mWav)
  {
    ok = WriteWavHeader(mWavFrames);
    if (!ok) why = strerror(errno);
    if (fclose(mWav) != 0 && ok)
    {
      ok = false;
      why = strerror(errno);
    }
    mWav = nullptr;
  }
  else
  {
    const int rc = sf_close(mFile);
    mFile = nullptr;
    ok = rc == 0;
    if (!ok) why = sf_error_number(rc);
  }
  if (!ok)
  {
    error = "cannot write " + mPending.Path() + ": " + why;
    mError = error;
  }
  return ok;
}

bool AudioSink::Commit(std::string& error)
{
  return Finish(error) && mPending.Commit(error);
}

bool WriteWholeFile(PendingFile& file, const std::vector<uint8_t>& bytes, std::string& error)
{
  FILE* f = file.TempPath().empty() ? nullptr : fopen(file.TempPath().c_str(), "wb");
  if (!f)
  {
    error = "cannot write " + file.Path() + ": " + (file.TempPath().empty() ? file.TempError() : strerror(errno));
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
