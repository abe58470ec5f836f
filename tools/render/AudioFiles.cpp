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

#include "WavInput.h"

namespace {

class SndfileSource : public AudioSource
{
public:
  SndfileSource(SNDFILE* f, const SF_INFO& info, int64_t declared) : mFile(f), mInfo(info), mDeclared(declared) {}
  ~SndfileSource() override { sf_close(mFile); }
  double Rate() const override { return mInfo.samplerate; }
  int Channels() const override { return mInfo.channels; }
  int64_t Frames() const override { return mInfo.frames; }
  int64_t DeclaredFrames() const override { return mDeclared; }
  int StoredBits() const override
  {
    switch (mInfo.format & SF_FORMAT_SUBMASK)
    {
      case SF_FORMAT_PCM_S8:
      case SF_FORMAT_PCM_U8: return 8;
      case SF_FORMAT_PCM_16: return 16;
      case SF_FORMAT_PCM_24: return 24;
      case SF_FORMAT_PCM_32: return 32;
      default: return 0;
    }
  }
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
  int64_t mDeclared;
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

// Reads exactly n bytes from fd unless it ends or fails first.
ssize_t ReadAll(int fd, void* buf, size_t n)
{
  size_t got = 0;
  while (got < n)
  {
    const ssize_t r = read(fd, (char*)buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += (size_t)r;
  }
  return (ssize_t)got;
}

bool WriteAll(int fd, const char* buf, size_t n)
{
  for (size_t done = 0; done < n;)
  {
    const ssize_t w = write(fd, buf + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += (size_t)w;
  }
  return true;
}

// The bytes already read from standard input, then the rest of it, copied
// to an unnamed temporary file of at most kMaxSpoolBytes: AIFF and FLAC
// from a pipe, which libsndfile reads only from a file it can seek in.
int SpoolStandardInput(const std::string& head, std::string& error)
{
  const char* tmp = getenv("TMPDIR");
  const int fd = open(tmp && *tmp ? tmp : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0)
  {
    error = std::string("cannot hold standard input in a temporary file: ") + strerror(errno);
    return -1;
  }
  int64_t total = (int64_t)head.size();
  bool ok = WriteAll(fd, head.data(), head.size());
  char buf[1 << 16];
  while (ok)
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
    total += n;
    if (total > kMaxSpoolBytes)
    {
      error = "standard input holds more than 1 GiB of AIFF or FLAC, the most a pipe of those is held for; "
              "pipe WAV (read as it arrives) or name the file instead";
      close(fd);
      return -1;
    }
    ok = WriteAll(fd, buf, (size_t)n);
  }
  if (!ok)
  {
    error = std::string("cannot hold standard input in a temporary file: ") + strerror(errno);
    close(fd);
    return -1;
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

bool CheckShape(const std::string& name, int channels, int rate, std::string& error)
{
  if (channels < 1 || channels > 2)
  {
    error = name + " has " + std::to_string(channels) + " channels; only mono and stereo are taken";
    return false;
  }
  if (rate < kMinRate || rate > kMaxRate)
  {
    error = name + " is " + std::to_string(rate) + " Hz; tavlo-render takes " + std::to_string(kMinRate) + " to " +
            std::to_string(kMaxRate) + " Hz";
    return false;
  }
  return true;
}

std::unique_ptr<AudioSource> OpenSndfile(int fd, const std::string& name, int64_t declared, std::string& error)
{
  SF_INFO info;
  memset(&info, 0, sizeof(info));
  SNDFILE* f = sf_open_fd(fd, SFM_READ, &info, 1);
  if (!f)
  {
    close(fd);
    error = "cannot read " + name + " as audio: " + sf_strerror(nullptr);
    return nullptr;
  }
  if (!CheckShape(name, info.channels, info.samplerate, error))
  {
    sf_close(f);
    return nullptr;
  }
  // WAV keeps samples of 7 bits (or 12, 20...) in whole bytes, the unused
  // low bits zero; they are read as the byte width holds them, and said.
  const int bits = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV ? DeclaredWavBits(fd) : 0;
  std::unique_ptr<AudioSource> source(new SndfileSource(f, info, declared));
  if (bits > 0 && bits % 8 != 0 && (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT)
    source->note = name + " declares " + std::to_string(bits) + "-bit samples; read as the " +
                   std::to_string((bits + 7) / 8 * 8) + "-bit ones they are stored as";
  return source;
}

// A descriptor of standard input's own, for a reader that closes it.
int DuplicateStandardInput(std::string& error)
{
  const int fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) error = std::string("cannot read standard input: ") + strerror(errno);
  return fd;
}

// A WAV from a pipe, whose first bytes are in head: read as it arrives
// when its encoding allows, else held in a file for libsndfile.
std::unique_ptr<AudioSource> OpenPipedWav(const std::string& name, std::string& head, std::string& error)
{
  // Served from what was read, then from the pipe, kept for a spool.
  size_t served = 0;
  const ByteReader fromPipe = [&](void* buf, int64_t want) -> int64_t {
    if (served < head.size())
    {
      const size_t k = std::min(head.size() - served, (size_t)want);
      memcpy(buf, head.data() + served, k);
      served += k;
      return (int64_t)k;
    }
    const ssize_t r = ReadAll(STDIN_FILENO, buf, (size_t)want);
    if (r > 0)
    {
      head.append((const char*)buf, (size_t)r);
      served += (size_t)r;
    }
    return r;
  };
  WavLayout layout;
  std::string why;
  switch (ReadWavHeader(fromPipe, layout, why))
  {
    case WavHeader::kNotWav:
      error = "standard input is not WAV, AIFF or FLAC audio (a pipe takes those; name the file for others)";
      return nullptr;
    case WavHeader::kBroken:
      error = "cannot read standard input as WAV: " + why;
      return nullptr;
    case WavHeader::kOk: break;
  }
  if (layout.Streamable())
  {
    if (!CheckShape(name, layout.channels, layout.rate, error)) return nullptr;
    const int fd = DuplicateStandardInput(error);
    if (fd < 0) return nullptr;
    return WavStreamSource(fd, layout);
  }
  // A WAV of another encoding (ADPCM, A-law...): libsndfile's, from a file.
  const int64_t declared = layout.DeclaredFrames();
  const int fd = SpoolStandardInput(head, error);
  return fd < 0 ? nullptr : OpenSndfile(fd, name, declared, error);
}

// Standard input: a file it was redirected from is read in place; from a
// pipe, WAV is read as it arrives and AIFF or FLAC held first, and anything
// else is refused before a byte of it is kept.
std::unique_ptr<AudioSource> OpenStandardInput(std::string& error)
{
  const std::string name = "standard input";
  if (isatty(STDIN_FILENO))
  {
    error = "standard input is a terminal; pipe audio into it or name an INPUT file";
    return nullptr;
  }
  struct stat st;
  if (fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode))
  {
    const int fd = DuplicateStandardInput(error);
    if (fd < 0) return nullptr;
    return OpenSndfile(fd, name, DeclaredWavFrames(fd), error);
  }

  std::string head(12, '\0');
  const ssize_t n = ReadAll(STDIN_FILENO, &head[0], head.size());
  if (n < 0)
  {
    error = std::string("cannot read standard input: ") + strerror(errno);
    return nullptr;
  }
  head.resize((size_t)n);
  if (head.empty())
  {
    error = "standard input is empty";
    return nullptr;
  }
  const bool aiff = n == 12 && head.compare(0, 4, "FORM") == 0 &&
                    (head.compare(8, 4, "AIFF") == 0 || head.compare(8, 4, "AIFC") == 0);
  const bool flac = head.compare(0, 4, "fLaC") == 0;
  if (!aiff && !flac) return OpenPipedWav(name, head, error);
  const int fd = SpoolStandardInput(head, error);
  return fd < 0 ? nullptr : OpenSndfile(fd, name, -1, error);
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
// What a 32-bit RIFF or FORM size leaves for the samples, with room for
// any header libsndfile writes.
constexpr int64_t kMaxData32 = 0xFFFFFFFFll - 4096;

}  // namespace

std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, std::string& error)
{
  if (path == "-") return OpenStandardInput(error);
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
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
  {
    error = "cannot open " + path + ": " + strerror(errno);
    return nullptr;
  }
  // A FIFO is read once, by libsndfile; a header read first would take its start.
  const int64_t declared = S_ISREG(st.st_mode) ? DeclaredWavFrames(fd) : -1;
  return OpenSndfile(fd, path, declared, error);
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
  if (major == SF_FORMAT_FLAC && bits == SampleBits::k32f)
  {
    error = "FLAC holds 16- or 24-bit samples, not 32-bit float (use --bits 16 or 24)";
    return false;
  }
  format.sfFormat = major;
  SetOutputBits(format, bits);
  format.name = major == SF_FORMAT_WAV ? "WAV" : major == SF_FORMAT_AIFF ? "AIFF" : "FLAC";
  return true;
}

void SetOutputBits(OutputFormat& format, SampleBits bits)
{
  const int major = format.sfFormat & SF_FORMAT_TYPEMASK;
  if (bits == SampleBits::kDefault || (major == SF_FORMAT_FLAC && bits == SampleBits::k32f))
    bits = major == SF_FORMAT_FLAC ? SampleBits::k24 : SampleBits::k32f;
  switch (bits)
  {
    case SampleBits::k16: format.sfFormat = major | SF_FORMAT_PCM_16; format.bits = 16; break;
    case SampleBits::k24: format.sfFormat = major | SF_FORMAT_PCM_24; format.bits = 24; break;
    default: format.sfFormat = major | SF_FORMAT_FLOAT; format.bits = 32; break;
  }
}

bool ChooseOutputFormat(const std::string& path, SampleBits bits, OutputFormat& format, std::string& error)
{
  return ChooseOutputFormat(path, "", bits, format, error);
}

bool FitOutputFormat(OutputFormat& format, int64_t frames, bool& wide, std::string& error)
{
  wide = false;
  const int major = format.sfFormat & SF_FORMAT_TYPEMASK;
  const int64_t frameBytes = format.channels * (format.bits / 8);
  const bool large = frames >= 0 && frames > kMaxData32 / frameBytes;
  if (major == SF_FORMAT_AIFF && large)
  {
    error = "an AIFF file holds less than 4 GiB of samples and this render makes " +
            std::to_string(frames * frameBytes) + " bytes; write WAV (as RF64) or FLAC";
    return false;
  }
  if (major != SF_FORMAT_WAV) return true;
  format.rf64IfNeeded = frames < 0 || large;
  format.rf64 = wide = large;
  return true;
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
  if (mPending.Target().stream)
  {
    const int fd = dup(STDOUT_FILENO);
    mWav = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    mStreaming = mWav != nullptr;
    if (!mWav || !WriteStreamHeader())
      mError = "cannot write standard output: " + std::string(strerror(errno));
    return;
  }
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
  info.channels = mFormat.channels;
  info.format = mFormat.sfFormat;
  if (mFormat.rf64IfNeeded) info.format = SF_FORMAT_RF64 | (mFormat.sfFormat & SF_FORMAT_SUBMASK);
  if (!sf_format_check(&info))
  {
    mError = "cannot write " + path + ": the format does not allow " + std::to_string(mRate) + " Hz";
    return;
  }
  mFile = sf_open(mPending.TempPath().c_str(), SFM_WRITE, &info);
  if (!mFile) mError = "cannot write " + path + ": " + sf_strerror(nullptr);
  else if (mFormat.rf64IfNeeded && !mFormat.rf64) sf_command(mFile, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
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
  // With room reserved for RF64's ds64 chunk (a JUNK chunk until then),
  // the header becomes RF64 in place when the data outgrows 32-bit sizes.
  const size_t wide = mFormat.rf64IfNeeded ? 8 + 28 : 0;
  const int ch = mFormat.channels;
  const int64_t data = frames * 4 * ch;
  const bool rf64 = wide && (mFormat.rf64 || data > kWavMaxData - (int64_t)wide);
  unsigned char h[kWavHeaderBytes + 8 + 28];
  unsigned char* p = h + 12 + wide;
  memcpy(h, rf64 ? "RF64" : "RIFF", 4);
  PutU32(h + 4, rf64 ? 0xFFFFFFFFu : (uint32_t)(kWavHeaderBytes + wide - 8 + data));
  memcpy(h + 8, "WAVE", 4);
  if (wide)
  {
    memset(h + 12, 0, wide);
    memcpy(h + 12, rf64 ? "ds64" : "JUNK", 4);
    PutU32(h + 16, 28);
    const uint64_t values[3] = {(uint64_t)(kWavHeaderBytes + wide - 8 + data), (uint64_t)data, (uint64_t)frames};
    for (int i = 0; i < 3 && rf64; ++i)
    {
      PutU32(h + 20 + 8 * i, (uint32_t)values[i]);
      PutU32(h + 24 + 8 * i, (uint32_t)(values[i] >> 32));
    }
  }
  memcpy(p, "fmt ", 4);
  PutU32(p + 4, 18);
  PutU16(p + 8, 3);  // IEEE float
  PutU16(p + 10, (uint32_t)ch);
  PutU32(p + 12, (uint32_t)mRate);
  PutU32(p + 16, (uint32_t)mRate * 4 * ch);
  PutU16(p + 20, (uint32_t)(4 * ch));
  PutU16(p + 22, 32);
  PutU16(p + 24, 0);  // no extension
  memcpy(p + 26, "fact", 4);
  PutU32(p + 30, 4);
  PutU32(p + 34, rf64 ? 0xFFFFFFFFu : (uint32_t)frames);
  memcpy(p + 38, "data", 4);
  PutU32(p + 42, rf64 ? 0xFFFFFFFFu : (uint32_t)data);
  const size_t n = kWavHeaderBytes + wide;
  return fseek(mWav, 0, SEEK_SET) == 0 && fwrite(h, 1, n, mWav) == n;
}

bool AudioSink::WriteStreamHeader()
{
  // What sox writes into a pipe: sizes it cannot know, as large as a RIFF
  // header takes, which readers (sox among them) read to the end of the
  // stream without a word. Float has the fmt chunk's extension (empty)
  // and a fact chunk, as non-PCM formats do.
  const bool pcm = mFormat.bits != 32;
  const int ch = mFormat.channels, bytes = mFormat.bits / 8;
  constexpr uint32_t kOpen = 0x7FFFF000u;
  const uint32_t fmtSize = pcm ? 16 : 18;
  unsigned char h[58];
  size_t n = 0;
  memcpy(h, "RIFF", 4);
  memcpy(h + 8, "WAVEfmt ", 8);
  PutU32(h + 16, fmtSize);
  PutU16(h + 20, pcm ? 1 : 3);
  PutU16(h + 22, (uint32_t)ch);
  PutU32(h + 24, (uint32_t)mRate);
  PutU32(h + 28, (uint32_t)(mRate * ch * bytes));
  PutU16(h + 32, (uint32_t)(ch * bytes));
  PutU16(h + 34, (uint32_t)mFormat.bits);
  n = 36;
  if (!pcm)
  {
    PutU16(h + n, 0);
    memcpy(h + n + 2, "fact", 4);
    PutU32(h + n + 6, 4);
    PutU32(h + n + 10, kOpen / (uint32_t)(ch * bytes));
    n += 14;
  }
  memcpy(h + n, "data", 4);
  PutU32(h + n + 4, kOpen);
  n += 8;
  PutU32(h + 4, kOpen + (uint32_t)n - 8);
  return fwrite(h, 1, n, mWav) == n;
}

bool AudioSink::Write(const double* stereo, int64_t frames)
{
  if (!IsOpen()) return false;
  // Sample k of what is written: interleaved stereo as it is, or the left
  // channel alone for a mono file.
  const int ch = mFormat.channels;
  const int64_t n = frames * ch;
  const int step = ch == 1 ? 2 : 1;
  if (mStreaming && mFormat.bits != 32)
  {
    Quantize(stereo, frames);
    const int bytes = mFormat.bits / 8, shift = 32 - mFormat.bits;
    mBytes.resize((size_t)(n * bytes));
    for (int64_t i = 0; i < n; ++i)
    {
      const uint32_t v = (uint32_t)(mInts[(size_t)i] >> shift);
      for (int b = 0; b < bytes; ++b) mBytes[(size_t)(i * bytes + b)] = (unsigned char)(v >> (8 * b));
    }
    if (fwrite(mBytes.data(), 1, mBytes.size(), mWav) != mBytes.size())
    {
      mError = "cannot write standard output: " + std::string(strerror(errno));
      return false;
    }
    return true;
  }
  if (mWav)
  {
    if (!mStreaming && !mFormat.rf64IfNeeded && (mWavFrames + frames) * 4 * ch > kWavMaxData)
    {
      mError = "cannot write " + mPending.Path() + ": a WAV file ends at 4 GiB (use FLAC, or --bits 16 or 24)";
      return false;
    }
    mFloats.resize((size_t)n);
    for (int64_t i = 0; i < n; ++i) mFloats[(size_t)i] = (float)stereo[i * step];
    if (fwrite(mFloats.data(), sizeof(float), mFloats.size(), mWav) != mFloats.size())
    {
      mError = "cannot write " + (mStreaming ? std::string("standard output") : mPending.Path()) + ": " + strerror(errno);
      return false;
    }
    mWavFrames += frames;
    return true;
  }
  // A FORM size field, like RIFF's, holds 32 bits; libsndfile would wrap it.
  mDataBytes += n * (mFormat.bits / 8);
  if ((mFormat.sfFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF && mDataBytes > kMaxData32)
  {
    mError = "cannot write " + mPending.Path() + ": an AIFF file ends at 4 GiB (use WAV or FLAC)";
    return false;
  }
  int64_t written = 0;
  if (mFormat.bits == 32)
  {
    const double* src = stereo;
    if (ch == 1)
    {
      mDoubles.resize((size_t)n);
      for (int64_t i = 0; i < n; ++i) mDoubles[(size_t)i] = stereo[i * step];
      src = mDoubles.data();
    }
    written = sf_writef_double(mFile, src, frames);
  }
  else
  {
    Quantize(stereo, frames);
    written = sf_writef_int(mFile, mInts.data(), frames);
  }
  if (written != frames)
  {
    mError = "cannot write " + mPending.Path() + ": " + sf_strerror(mFile);
    return false;
  }
  return true;
}

void AudioSink::Quantize(const double* stereo, int64_t frames)
{
  // Our own rounding and clipping: libsndfile's double-to-PCM path scales
  // by 2^(bits-1) - 1 while its reader divides by 2^(bits-1), so a PCM
  // file would not come back sample for sample.
  const int ch = mFormat.channels, step = ch == 1 ? 2 : 1;
  const int64_t n = frames * ch;
  const double scale = mFormat.bits == 16 ? 32768.0 : 8388608.0;
  const double top = scale - 1.0;
  const int shift = 32 - mFormat.bits;
  mInts.resize((size_t)n);
  for (int64_t i = 0; i < n; ++i)
  {
    const double x = stereo[i * step] * scale;
    double v = std::nearbyint(x);
    // A sample on a step (silence, audio passed through) stays as it is.
    if (mFormat.dither && v != x && std::isfinite(x)) v = std::nearbyint(x + Triangular());
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
}

double AudioSink::Triangular()
{
  // Two uniform values in [0, 1) (xorshift64*), their difference: a
  // triangle from -1 to 1 step.
  auto uniform = [this] {
    mNoise ^= mNoise >> 12;
    mNoise ^= mNoise << 25;
    mNoise ^= mNoise >> 27;
    return (double)((mNoise * 0x2545F4914F6CDD1Dull) >> 11) / 9007199254740992.0;
  };
  const double a = uniform();
  return a - uniform();
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
    // A stream's header stays as it was sent.
    ok = mStreaming ? fflush(mWav) == 0 : WriteWavHeader(mWavFrames);
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
    error = "cannot write " + (mStreaming ? std::string("standard output") : mPending.Path()) + ": " + why;
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

std::vector<std::string> ReadableExtensions()
{
  std::vector<std::string> exts;
  auto add = [&](std::string e) {
    for (char& c : e) c = (char)tolower((unsigned char)c);
    if (!e.empty() && std::find(exts.begin(), exts.end(), e) == exts.end()) exts.push_back(e);
  };
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof(count));
  for (int i = 0; i < count; ++i)
  {
    SF_FORMAT_INFO info = {};
    info.format = i;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof(info)) != 0 || !info.extension) continue;
    add(info.extension);
    // The names files of these formats carry as often as libsndfile's own.
    if (strcmp(info.extension, "aiff") == 0) add("aif");
    if (strcmp(info.extension, "oga") == 0) add("ogg");
    if (strcmp(info.extension, "m1a") == 0) add("mp3"), add("mp2");
  }
  // The common ones first, the rest as libsndfile lists them.
  const char* const common[] = {"wav", "flac", "aiff", "aif", "ogg", "oga", "mp3"};
  std::vector<std::string> ordered;
  for (const char* c : common)
    if (std::find(exts.begin(), exts.end(), c) != exts.end()) ordered.push_back(c);
  for (const std::string& e : exts)
    if (std::find(ordered.begin(), ordered.end(), e) == ordered.end()) ordered.push_back(e);
  return ordered;
}
