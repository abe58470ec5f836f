#pragma once

// Audio in and out of tavlo-render: libsndfile for reading and for FLAC,
// AIFF and PCM WAV, our own writer for 32-bit float WAV (whose header sox
// reads without complaint). Every output goes through a PendingFile.

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OutputFiles.h"
#include "RenderOptions.h"

// A stream of stereo frames (mono sources are doubled), interleaved doubles.
class AudioSource
{
public:
  virtual ~AudioSource() {}
  virtual double Rate() const = 0;
  virtual int Channels() const = 0;  // as stored: 1 or 2
  virtual int64_t Frames() const = 0;  // -1: not known until the end
  // Whether Frames() is what will arrive, or only what a pipe's header
  // says, which may be anything: the output's container is then chosen by
  // what arrives.
  virtual bool FramesAreSure() const { return true; }
  // What the file's header declares, where it declares a length; -1 otherwise.
  virtual int64_t DeclaredFrames() const { return -1; }
  // Bits of the integer samples stored (8, 16, 24, 32), 0 for floating
  // point or a format that keeps no such count.
  virtual int StoredBits() const { return 0; }
  // Reads up to n frames; returns the count read (0 at the end, -1 on a read error).
  virtual int64_t Read(double* stereo, int64_t n) = 0;
  // What the reader is to be told of how the file was read; empty for nothing.
  std::string note;
};

// Opens a WAV, AIFF or FLAC file (or whatever else libsndfile reads), or
// standard input for "-"; null with a message when it cannot be opened,
// holds something other than mono or stereo, or has a rate outside kMinRate
// to kMaxRate. Standard input from a pipe takes WAV, read as it arrives,
// and AIFF or FLAC, held in a temporary file of at most kMaxSpoolBytes.
std::unique_ptr<AudioSource> OpenAudioFile(const std::string& path, std::string& error);
constexpr int64_t kMaxSpoolBytes = 1ll << 30;

// The interleaved stereo frames given, at the given rate.
std::unique_ptr<AudioSource> MemorySource(std::vector<float> stereo, double rate);

struct OutputFormat
{
  int sfFormat = 0;  // major | subtype
  int bits = 32;     // 16, 24 or 32 (float)
  const char* name = "";
  // A WAV written as RF64 when closed if it outgrew 32-bit sizes, as plain
  // WAV otherwise: for a render too long for WAV, or whose length is not
  // known before it ends.
  bool rf64IfNeeded = false;
  bool rf64 = false;  // known from the start to outgrow them
  int channels = 2;   // 1: the left channel of the render alone
  // PCM: TPDF dither of one step at most either way, before rounding, for
  // the samples the render put between two steps.
  bool dither = false;
};

// The sample size of a chosen container: 16 or 24 bits, or 32-bit float
// (24 bits for FLAC, which holds no float).
void SetOutputBits(OutputFormat& format, SampleBits bits);

// Picks the container from container ("wav", "flac", "aiff") or, when that
// is empty, from the extension ("-" is WAV), and the sample format from
// bits; false with a message for an unknown extension or a pairing the
// container cannot hold.
bool ChooseOutputFormat(const std::string& path, const std::string& container, SampleBits bits,
                        OutputFormat& format, std::string& error);
bool ChooseOutputFormat(const std::string& path, SampleBits bits, OutputFormat& format,
                        std::string& error);

// Settles the container of a WAV or AIFF output for a render of frames
// (-1: not known until it ends) before anything is rendered: a WAV past
// 4 GiB becomes RF64 (wide set when so), one of unknown length becomes
// RF64 only if it turns out so long; an AIFF past 4 GiB is refused with a
// message.
bool FitOutputFormat(OutputFormat& format, int64_t frames, bool& wide, std::string& error);

// Stereo audio written to a pending file.
class AudioSink
{
public:
  AudioSink(const OutputTarget& target, const OutputFormat& format, double rate);
  AudioSink(const std::string& path, const OutputFormat& format, double rate);
  ~AudioSink();
  bool IsOpen() const { return mFile != nullptr || mWav != nullptr; }
  const std::string& Error() const { return mError; }
  // Interleaved stereo (of which a mono format takes the left channel); PCM
  // formats are rounded (dithered, where asked) and clipped, never wrapped.
  bool Write(const double* stereo, int64_t frames);
  // Samples PCM output had to clip to full scale.
  int64_t Clipped() const { return mClipped; }
  // Closes the file; it is then ready to be committed.
  bool Finish(std::string& error);
  PendingFile& Pending() { return mPending; }
  // Finish and commit on their own.
  bool Commit(std::string& error);

private:
  void Open(double rate);
  bool WriteWavHeader(int64_t frames);
  // The dither's next value, in steps.
  double Triangular();
  // A block's PCM samples into mInts, left-justified in 32 bits.
  void Quantize(const double* stereo, int64_t frames);
  bool WriteStreamHeader();

  PendingFile mPending;
  OutputFormat mFormat;
  SNDFILE* mFile = nullptr;
  FILE* mWav = nullptr;  // 32-bit float WAV
  int64_t mWavFrames = 0;
  int mRate = 0;
  std::string mError;
  std::vector<int> mInts;
  std::vector<float> mFloats;
  std::vector<double> mDoubles;
  std::vector<unsigned char> mBytes;
  bool mStreaming = false;  // written to standard output as it goes
  uint64_t mNoise = 0x9E3779B97F4A7C15ull;  // the dither's generator, the same for every file
  int64_t mClipped = 0;
  int64_t mDataBytes = 0;
};

// Writes bytes to a pending file (committed by the caller).
bool WriteWholeFile(PendingFile& file, const std::vector<uint8_t>& bytes, std::string& error);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// File name extensions of the formats the installed libsndfile reads,
// lower case, each once ("wav", "aiff", "aif", "flac", "ogg", "mp3", ...).
std::vector<std::string> ReadableExtensions();
