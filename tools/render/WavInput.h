#pragma once

// WAV headers read by the renderer itself, for what libsndfile does not
// tell: the length a header declares (so a file cut off early is noticed),
// and WAV read from a pipe as it arrives, without holding it anywhere.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AudioSource;

struct WavLayout
{
  int format = 0;  // 1 integer PCM, 3 IEEE float (an extensible header's subformat)
  int channels = 0;
  int rate = 0;
  int bits = 0;  // per sample, as stored
  int blockAlign = 0;
  int64_t dataBytes = -1;  // -1: the header leaves the length open
  bool rf64 = false;

  int64_t DeclaredFrames() const { return dataBytes < 0 || blockAlign <= 0 ? -1 : dataBytes / blockAlign; }
  // Whether the samples are read here (PCM of 8 to 32 bits, float of 32 or
  // 64) or need libsndfile.
  bool Streamable() const;
};

// Reads up to n bytes into buf: the count read, 0 at the end, -1 on error.
using ByteReader = std::function<int64_t(void* buf, int64_t n)>;

enum class WavHeader
{
  kOk,      // layout filled; the next byte read is the first of the data
  kNotWav,  // not RIFF/RF64 WAVE
  kBroken,  // WAVE, but no usable fmt and data chunks (why says what)
};

// Reads a RIFF or RF64 WAVE header up to the start of its data chunk.
// Sizes of 0 and 0xFFFFFFFF, and the 0x7FFFF000 that sox writes when it
// cannot seek back, leave the length open.
WavHeader ReadWavHeader(const ByteReader& read, WavLayout& layout, std::string& why);

// Frames the header of a WAV file declares; -1 when it is no WAV or leaves
// its length open. From offset 0 of fd, whatever its position.
int64_t DeclaredWavFrames(int fd);
// Bits per sample a WAV file's header declares; 0 when it is no WAV.
int DeclaredWavBits(int fd);

// A WAV stream whose header was read: its samples read from fd as they
// come (the same values libsndfile gives). layout must be Streamable().
std::unique_ptr<AudioSource> WavStreamSource(int fd, const WavLayout& layout);
