#include "WavInput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "AudioFiles.h"

namespace {

uint32_t U16(const unsigned char* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
uint32_t U32(const unsigned char* p) { return U16(p) | U16(p + 2) << 16; }
uint64_t U64(const unsigned char* p) { return (uint64_t)U32(p) | (uint64_t)U32(p + 4) << 32; }

// Chunks before the data are skipped by reading them; a header that runs
// on past this is not audio worth waiting for.
constexpr int64_t kMaxHeaderBytes = 16 << 20;

// Reads exactly n bytes unless the stream ends or fails first.
int64_t ReadFully(const ByteReader& read, void* buf, int64_t n)
{
  int64_t got = 0;
  while (got < n)
  {
    const int64_t r = read((char*)buf + got, n - got);
    if (r < 0) return -1;
    if (r == 0) break;
    got += r;
  }
  return got;
}

bool Skip(const ByteReader& read, int64_t n)
{
  char buf[4096];
  while (n > 0)
  {
    const int64_t step = n < (int64_t)sizeof(buf) ? n : (int64_t)sizeof(buf);
    if (ReadFully(read, buf, step) != step) return false;
    n -= step;
  }
  return true;
}

class WavPipeSource : public AudioSource
{
public:
  WavPipeSource(int fd, const WavLayout& layout) : mFd(fd), mLayout(layout) {}
  ~WavPipeSource() override { close(mFd); }
  double Rate() const override { return mLayout.rate; }
  int Channels() const override { return mLayout.channels; }
  int64_t Frames() const override { return mLayout.DeclaredFrames(); }
  int64_t DeclaredFrames() const override { return mLayout.DeclaredFrames(); }
  bool FramesAreSure() const override { return false; }
  int StoredBits() const override { return mLayout.format == 1 ? mLayout.bits : 0; }

  int64_t Read(double* stereo, int64_t n) override
  {
    const int64_t frameBytes = mLayout.blockAlign;
    if (mLayout.dataBytes >= 0) n = std::min(n, (mLayout.dataBytes - mDone) / frameBytes);
    if (n <= 0) return 0;
    mBytes.resize((size_t)(n * frameBytes));
    int64_t got = 0;
    while (got < n * frameBytes)
    {
      const ssize_t r = read(mFd, mBytes.data() + got, (size_t)(n * frameBytes - got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return -1;
      if (r == 0) break;
      got += r;
    }
    mDone += got;
    const int64_t frames = got / frameBytes;  // a torn last frame is dropped
    const int step = mLayout.bits / 8;
    for (int64_t f = 0; f < frames; ++f)
      for (int ch = 0; ch < 2; ++ch)
      {
        const unsigned char* p = mBytes.data() + f * frameBytes + (mLayout.channels == 1 ? 0 : ch) * step;
        stereo[2 * f + ch] = Sample(p);
      }
    return frames;
  }

private:
  // Integers scaled by 2^(bits-1), as libsndfile reads them, so a piped
  // file renders exactly as the file itself.
  double Sample(const unsigned char* p) const
  {
    if (mLayout.format == 3)
    {
      if (mLayout.bits == 32)
      {
        const uint32_t u = U32(p);
        float f;
        memcpy(&f, &u, 4);
        return f;
      }
      const uint64_t u = U64(p);
      double d;
      memcpy(&d, &u, 8);
      return d;
    }
    switch (mLayout.bits)
    {
      case 8: return ((int)p[0] - 128) / 128.0;
      case 16: return (int16_t)U16(p) / 32768.0;
      case 24: return (int32_t)((uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24) / 2147483648.0;
      default: return (int32_t)U32(p) / 2147483648.0;
    }
  }

  int mFd;
  WavLayout mLayout;
  int64_t mDone = 0;
  std::vector<unsigned char> mBytes;
};

}  // namespace

bool WavLayout::Streamable() const
{
  if (channels < 1 || blockAlign != channels * (bits / 8) || bits % 8 != 0) return false;
  if (format == 1) return bits >= 8 && bits <= 32;
  if (format == 3) return bits == 32 || bits == 64;
  return false;
}

WavHeader ReadWavHeader(const ByteReader& read, WavLayout& layout, std::string& why)
{
  layout = WavLayout();
  unsigned char riff[12];
  if (ReadFully(read, riff, 12) != 12 || (memcmp(riff, "RIFF", 4) != 0 && memcmp(riff, "RF64", 4) != 0) ||
      memcmp(riff + 8, "WAVE", 4) != 0)
    return WavHeader::kNotWav;
  layout.rf64 = riff[0] == 'R' && riff[1] == 'F';
  int64_t used = 12;
  int64_t ds64Data = -1;
  bool haveFmt = false;
  for (;;)
  {
    unsigned char head[8];
    if (ReadFully(read, head, 8) != 8)
    {
      why = "the header ends before the audio data";
      return WavHeader::kBroken;
    }
    const uint32_t size = U32(head + 4);
    used += 8;
    if (memcmp(head, "data", 4) == 0)
    {
      if (!haveFmt)
      {
        why = "the audio data comes before its format";
        return WavHeader::kBroken;
      }
      if (layout.rf64 && size == 0xFFFFFFFFu) layout.dataBytes = ds64Data;
      else if (size == 0 || size == 0xFFFFFFFFu || size == 0x7FFFF000u) layout.dataBytes = -1;
      else layout.dataBytes = size;
      return WavHeader::kOk;
    }
    const int64_t padded = (int64_t)size + (size & 1);
    used += padded;
    if (used > kMaxHeaderBytes)
    {
      why = "the header runs on for more than 16 MiB before the audio data";
      return WavHeader::kBroken;
    }
    if (memcmp(head, "fmt ", 4) == 0 || memcmp(head, "ds64", 4) == 0)
    {
      std::vector<unsigned char> body((size_t)padded);
      if (ReadFully(read, body.data(), padded) != padded)
      {
        why = "the header ends before the audio data";
        return WavHeader::kBroken;
      }
      if (head[0] == 'd')
      {
        if (size >= 16)
        {
          const uint64_t d = U64(body.data() + 8);
          ds64Data = d == 0 || d == ~0ull || d > (uint64_t)INT64_MAX ? -1 : (int64_t)d;
        }
        continue;
      }
      if (size < 16)
      {
        why = "its format chunk is too short";
        return WavHeader::kBroken;
      }
      layout.format = (int)U16(body.data());
      layout.channels = (int)U16(body.data() + 2);
      layout.rate = (int)U32(body.data() + 4);
      layout.blockAlign = (int)U16(body.data() + 12);
      layout.bits = (int)U16(body.data() + 14);
      if (layout.format == 0xFFFE && size >= 40) layout.format = (int)U16(body.data() + 24);  // the subformat
      haveFmt = true;
      continue;
    }
    if (!Skip(read, padded))
    {
      why = "the header ends before the audio data";
      return WavHeader::kBroken;
    }
  }
}

namespace {

// The header of a WAV file from offset 0 of fd, whatever its position.
bool PeekWavLayout(int fd, WavLayout& layout)
{
  off_t at = 0;
  const ByteReader read = [&](void* buf, int64_t n) -> int64_t {
    const ssize_t r = pread(fd, buf, (size_t)n, at);
    if (r > 0) at += r;
    return r;
  };
  std::string why;
  return ReadWavHeader(read, layout, why) == WavHeader::kOk;
}

}  // namespace

int64_t DeclaredWavFrames(int fd)
{
  WavLayout layout;
  return PeekWavLayout(fd, layout) ? layout.DeclaredFrames() : -1;
}

int DeclaredWavBits(int fd)
{
  WavLayout layout;
  return PeekWavLayout(fd, layout) ? layout.bits : 0;
}

std::unique_ptr<AudioSource> WavStreamSource(int fd, const WavLayout& layout)
{
  return std::unique_ptr<AudioSource>(new WavPipeSource(fd, layout));
}
