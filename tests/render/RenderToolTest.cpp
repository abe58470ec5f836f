// tavlo-render through its command line: exact audio where the plug-in's
// behaviour fixes it, state and automation, errors that leave nothing
// behind, formats and rates, and memory that does not grow with length.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef TAVLO_LV2_BUNDLE_PATH
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include "Lv2TestHost.h"
#endif

namespace {

struct RunResult
{
  int exitCode = -1;
  std::string out, err;
  long maxRssKb = 0;
};

std::string Slurp(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// How the program's standard streams and surroundings are set up beyond
// the defaults.
struct Streams
{
  std::string stdinFile;         // empty: /dev/null
  bool stdinPipe = false;        // stdinFile's bytes through a pipe instead
  bool stdinEndless = false;     // ... followed by zeros until the reader stops
  bool stdoutClosedPipe = false; // a pipe whose reader has gone
  std::string stdoutFile;        // written there instead of captured (a terminal)
  std::string tmpdir;            // TMPDIR, when not empty
};

// Stopping a render by a signal once it is under way: when a file whose
// name starts with whenExists appears in the folder (and begins with
// header, when one is given).
struct Stop
{
  int signal = 0;
  std::string whenExists, header;
};

bool FileAppeared(const std::string& dir, const Stop& stop)
{
  DIR* d = opendir(dir.c_str());
  bool found = false;
  while (dirent* e = d ? readdir(d) : nullptr)
  {
    const std::string n = e->d_name;
    if (n.compare(0, stop.whenExists.size(), stop.whenExists) != 0) continue;
    if (stop.header.empty()) found = true;
    else
    {
      std::string head(stop.header.size(), '\0');
      FILE* f = fopen((dir + "/" + n).c_str(), "rb");
      found = f && fread(&head[0], 1, head.size(), f) == head.size() && head == stop.header;
      if (f) fclose(f);
    }
    if (found) break;
  }
  if (d) closedir(d);
  return found;
}

// Runs the program with args, stdout and stderr captured, stderr not a
// terminal (so no progress bar); stopped by a signal if stop says so
// (stopped is then true).
RunResult RunTool(const std::vector<std::string>& args, const std::string& dir, const Stop& stop = Stop(),
                  const Streams& streams = Streams(), bool* stopped = nullptr)
{
  const std::string outPath = dir + "/stdout.txt", errPath = dir + "/stderr.txt";
  int pipeFds[2] = {-1, -1}, inFds[2] = {-1, -1};
  if (streams.stdoutClosedPipe && pipe(pipeFds) != 0) return RunResult();
  if (streams.stdinPipe && pipe(inFds) != 0) return RunResult();
  pid_t pid = fork();
  if (pid == 0)
  {
    int o = streams.stdoutFile.empty() ? open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                       : open(streams.stdoutFile.c_str(), O_WRONLY | O_NOCTTY);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int i = streams.stdinPipe ? inFds[0]
                              : open(streams.stdinFile.empty() ? "/dev/null" : streams.stdinFile.c_str(), O_RDONLY);
    if (streams.stdinPipe) close(inFds[1]);
    if (streams.stdoutClosedPipe)
    {
      close(pipeFds[0]);
      o = pipeFds[1];
    }
    dup2(i, 0);
    dup2(o, 1);
    dup2(e, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    if (!streams.tmpdir.empty()) setenv("TMPDIR", streams.tmpdir.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TAVLO_RENDER_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TAVLO_RENDER_PATH, argv.data());
    _exit(127);
  }
  if (streams.stdoutClosedPipe)
  {
    close(pipeFds[0]);
    close(pipeFds[1]);
  }
  std::thread feeder;
  if (streams.stdinPipe)
  {
    close(inFds[0]);
    // Written from a thread, so a reader that stops early never blocks us.
    signal(SIGPIPE, SIG_IGN);
    feeder = std::thread([fd = inFds[1], &streams]() {
      const std::string bytes = Slurp(streams.stdinFile);
      auto put = [fd](const char* p, size_t n) {
        for (size_t done = 0; done < n;)
        {
          const ssize_t w = write(fd, p + done, n - done);
          if (w <= 0) return false;
          done += (size_t)w;
        }
        return true;
      };
      bool open = put(bytes.data(), bytes.size());
      static const std::vector<char> zeros(1 << 16, 0);
      while (open && streams.stdinEndless) open = put(zeros.data(), zeros.size());
      close(fd);
    });
  }
  RunResult r;
  int status = 0;
  struct rusage usage;
  if (stop.signal)
  {
    bool sent = false, reaped = false;
    for (int waited = 0; waited < 60000 && !sent && !reaped; waited += 2)
    {
      reaped = wait4(pid, &status, WNOHANG, &usage) == pid;
      if (reaped) break;
      if (FileAppeared(dir, stop))
      {
        kill(pid, stop.signal);
        sent = true;
      }
      else
        usleep(2000);
    }
    if (stopped) *stopped = sent;
    if (!reaped) wait4(pid, &status, 0, &usage);
  }
  else
    wait4(pid, &status, 0, &usage);
  if (feeder.joinable()) feeder.join();
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.maxRssKb = usage.ru_maxrss;
  r.out = Slurp(outPath);
  r.err = Slurp(errPath);
  return r;
}

// Names of files in dir other than the captured output streams.
std::vector<std::string> Listing(const std::string& dir)
{
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
  {
    const std::string n = e->d_name;
    if (n != "." && n != ".." && n != "stdout.txt" && n != "stderr.txt") names.push_back(n);
  }
  closedir(d);
  return names;
}

struct Audio
{
  int rate = 0, channels = 0, format = 0;
  std::vector<float> samples;  // interleaved
  int64_t Frames() const { return channels ? (int64_t)samples.size() / channels : 0; }
  float At(int64_t frame, int ch) const { return samples[frame * channels + ch]; }
};

Audio ReadAudio(const std::string& path)
{
  Audio a;
  SF_INFO info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return a;
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.format = info.format;
  a.samples.resize((size_t)(info.frames * info.channels));
  sf_readf_float(f, a.samples.data(), info.frames);
  sf_close(f);
  return a;
}

void WriteAudio(const std::string& path, const Audio& a, int format)
{
  SF_INFO info = {};
  info.samplerate = a.rate;
  info.channels = a.channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(nullptr, f) << sf_strerror(nullptr);
  sf_writef_float(f, a.samples.data(), a.Frames());
  sf_close(f);
}

// A drum-like test signal: decaying tone bursts every 250 ms on top of a
// low sine, with deterministic noise, peaking near full scale.
Audio TestSignal(int rate, int channels, double seconds)
{
  Audio a;
  a.rate = rate;
  a.channels = channels;
  const int64_t n = (int64_t)std::llround(seconds * rate);
  a.samples.resize((size_t)(n * channels));
  uint32_t seed = 12345;
  for (int64_t i = 0; i < n; ++i)
  {
    const double t = (double)i / rate;
    const double burstT = std::fmod(t, 0.25);
    seed = seed * 1664525u + 1013904223u;
    const double noise = ((seed >> 8) / 8388608.0 - 1.0) * 0.05;
    const double burst = 0.75 * std::exp(-burstT / 0.04) * std::sin(2 * M_PI * 180.0 * burstT);
    for (int ch = 0; ch < channels; ++ch)
      a.samples[(size_t)(i * channels + ch)] =
        (float)(0.2 * std::sin(2 * M_PI * (55.0 + 20 * ch) * t) + burst + noise);
  }
  return a;
}

double RmsDb(const Audio& a, int64_t from, int64_t to)
{
  double sum = 0;
  for (int64_t i = from * a.channels; i < to * a.channels; ++i) sum += (double)a.samples[i] * a.samples[i];
  return 10.0 * std::log10(sum / ((to - from) * a.channels));
}

uint32_t PngU32(const std::string& png, size_t at)
{
  return ((uint32_t)(uint8_t)png[at] << 24) | ((uint32_t)(uint8_t)png[at + 1] << 16) |
         ((uint32_t)(uint8_t)png[at + 2] << 8) | (uint8_t)png[at + 3];
}

class RenderTool : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char tmpl[] = "/tmp/tavlo-render-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
  }
  void TearDown() override
  {
    for (const char* b : {"Zlib.vst3/Contents/x86_64-linux/Zlib.so", "Zlib.vst3/Contents/x86_64-linux",
                          "Zlib.vst3/Contents", "Zlib.vst3", "Text.vst3/Contents/x86_64-linux/Text.so",
                          "Text.vst3/Contents/x86_64-linux", "Text.vst3/Contents", "Text.vst3"})
    {
      unlink(P(b).c_str());
      rmdir(P(b).c_str());
    }
    for (const std::string& n : Listing(dir)) unlink((dir + "/" + n).c_str());
    unlink((dir + "/stdout.txt").c_str());
    unlink((dir + "/stderr.txt").c_str());
    rmdir(dir.c_str());
  }
  std::string P(const std::string& name) const { return dir + "/" + name; }
  RunResult Run(const std::vector<std::string>& args, const Stop& stop = Stop(), const Streams& streams = Streams(),
                bool* stopped = nullptr)
  {
    std::vector<std::string> all = {"--plugin", TAVLO_BUNDLE_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return RunTool(all, dir, stop, streams, stopped);
  }
  // The input file of most tests: 1.5 s of stereo at 48 kHz, 32-bit float.
  Audio MakeInput(const std::string& name, int rate = 48000, int channels = 2, double seconds = 1.5,
                  int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
  {
    Audio a = TestSignal(rate, channels, seconds);
    WriteAudio(P(name), a, format);
    return ReadAudio(P(name));  // as the file stores it
  }
  std::string dir;
};

// ---- exact results ----------------------------------------------------

TEST_F(RenderTool, BypassOneGivesTheInputBitForBitInBothPrecisions)
{
  const Audio in = MakeInput("in.wav");
  for (const char* precision : {"32", "64"})
  {
    SCOPED_TRACE(precision);
    const RunResult r = Run({"-y", "--set", "Bypass=1", "--precision", precision, "--block", "300", "in.wav", "out.wav"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const Audio out = ReadAudio(P("out.wav"));
    ASSERT_EQ(48000, out.rate);
    ASSERT_EQ(2, out.channels);
    EXPECT_EQ(SF_FORMAT_WAV | SF_FORMAT_FLOAT, out.format);
    ASSERT_EQ(in.Frames(), out.Frames());
    EXPECT_EQ(0, memcmp(in.samples.data(), out.samples.data(), in.samples.size() * sizeof(float)));
    // The summary: 1.5 s, and no gain reduction while bypassed.
    EXPECT_NE(std::string::npos, r.out.find("1.50 s at 48000 Hz")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("gain reduction max 0.0 dB avg 0.0 dB")) << r.out;
  }

  // --precision 64 reaches the process call: a 64-bit float input whose
  // values lie 0.4 of a 24-bit step above an odd step. Bypassed whole, they
  // round down to that step; squeezed through 32-bit floats (whose step
  // there is half of a 24-bit one) they become ties, rounded to the even
  // step above.
  Audio fine;
  fine.rate = 48000;
  fine.channels = 2;
  std::vector<double> exact;
  std::vector<int32_t> step;
  for (int i = 0; i < 4800; ++i)
  {
    const int32_t k = (1 << 22) + 2 * (i * 997 % ((1 << 21) - 1)) + 1;  // odd, below the top code
    for (int sign : {1, -1})
    {
      exact.push_back(sign * (k + 0.4) / 8388608.0);
      step.push_back(sign * k);
    }
  }
  {
    SF_INFO info = {};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
    SNDFILE* f = sf_open(P("fine.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(4800, sf_writef_double(f, exact.data(), 4800));
    sf_close(f);
  }
  for (const char* precision : {"64", "32"})
  {
    SCOPED_TRACE(precision);
    const RunResult r =
      Run({"-y", "--set", "Bypass=1", "--precision", precision, "--bits", "24", "--no-dither", "fine.wav", "out.wav"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    SF_INFO info = {};
    SNDFILE* f = sf_open(P("out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(nullptr, f);
    std::vector<int32_t> got(step.size());
    ASSERT_EQ(4800, sf_readf_int(f, got.data(), 4800));
    sf_close(f);
    int64_t wrong = 0;
    for (size_t i = 0; i < step.size(); ++i)
    {
      const int32_t want = strcmp(precision, "64") == 0 ? step[i] : step[i] + (step[i] > 0 ? 1 : -1);
      wrong += got[i] >> 8 != want;
    }
    EXPECT_EQ(0, wrong) << "of " << step.size() << " samples";
  }
}

#ifdef TAVLO_CLAP_PATH
// The same renders through Tavlo.clap as through Tavlo.vst3, bit for bit: a
// factory preset, --set values, automation of every kind of parameter, the
// side-chain, both precisions and odd blocks; and its state is the VST 3
// component's.
TEST_F(RenderTool, TheClapBundleRendersWhatTheVst3BundleRenders)
{
  MakeInput("in.wav");
  MakeInput("key.wav", 48000, 2, 1.0);
  const std::vector<std::vector<std::string>> cases = {
    {"--preset", "drum-room-crush", "--set", "Oversample=on"},
    {"--set", "Input=150", "--set", "Attack=2ms", "--automate", "Mix=0:100,1:40", "--automate", "HPF=0:20,1.2:300",
     "--automate", "Bypass=0:0,0.5:1,0.7:0", "--block", "333"},
    {"--precision", "64", "--set", "Input=120", "--set", "Sidechain=external", "--sidechain", "key.wav"},
  };
  for (const std::vector<std::string>& c : cases)
  {
    SCOPED_TRACE(c[1]);
    std::vector<std::string> vst3 = c, clap = {"--plugin", TAVLO_CLAP_PATH};
    clap.insert(clap.end(), c.begin(), c.end());
    for (const char* arg : {"-y", "--save-state", "vst3.state", "in.wav", "vst3.wav"}) vst3.push_back(arg);
    for (const char* arg : {"-y", "--save-state", "clap.state", "in.wav", "clap.wav"}) clap.push_back(arg);
    const RunResult a = Run(vst3), b = RunTool(clap, dir);
    ASSERT_EQ(0, a.exitCode) << a.err;
    ASSERT_EQ(0, b.exitCode) << b.err;
    const Audio va = ReadAudio(P("vst3.wav")), cb = ReadAudio(P("clap.wav"));
    ASSERT_EQ(va.samples.size(), cb.samples.size());
    EXPECT_EQ(0, memcmp(va.samples.data(), cb.samples.data(), va.samples.size() * sizeof(float)));
    // The same values, whichever format wrote them; a factory preset's
    // number is remembered by VST 3 hosts only (CLAP has no program list).
    const std::string sa = Slurp(P("vst3.state")), sb = Slurp(P("clap.state"));
    ASSERT_EQ(sa.size(), sb.size());
    EXPECT_EQ(sa.substr(0, 76), sb.substr(0, 76));
  }
}
#endif

TEST_F(RenderTool, MixZeroWithoutOversamplingIsTheInputTimesTheOutputGain)
{
  const Audio in = MakeInput("in.wav");
  for (double db : {0.0, 6.0, -20.0, 20.0})
  {
    SCOPED_TRACE(db);
    char set[64];
    snprintf(set, sizeof(set), "Output=%g", db);
    // A hard-driven compressor, to show its wet path really is mixed out.
    const RunResult r = Run({"-y", "--set", "Mix=0", "--set", "Oversample=0", "--set", "Input=200", "--set", set,
                             "in.wav", "out.wav"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const Audio out = ReadAudio(P("out.wav"));
    ASSERT_EQ(in.Frames(), out.Frames());
    const double gain = std::pow(10.0, db / 20.0);
    int64_t worst = -1;
    double worstErr = 0;
    for (size_t i = 0; i < in.samples.size(); ++i)
    {
      const double want = (double)in.samples[i] * gain;
      const double err = std::fabs(out.samples[i] - want);
      // One float rounding of the product, at most.
      if (err > std::fabs(want) * 1.2e-7 + 1e-30 && err > worstErr)
      {
        worstErr = err;
        worst = (int64_t)i;
      }
    }
    EXPECT_EQ(-1, worst) << "sample " << worst << " off by " << worstErr;
  }
}

TEST_F(RenderTool, SummaryLineGivesLevelsAndGainReductionOfAKnownSine)
{
  // 1 kHz at amplitude 0.5 on both channels: peak -6.0 dBFS, RMS -9.0 dBFS.
  Audio sine;
  sine.rate = 48000;
  sine.channels = 2;
  for (int i = 0; i < 48000; ++i)
    for (int ch = 0; ch < 2; ++ch) sine.samples.push_back((float)(0.5 * std::sin(2 * M_PI * 1000.0 * i / 48000.0)));
  WriteAudio(P("sine.wav"), sine, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

  RunResult r = Run({"--set", "Bypass=1", "sine.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("out.wav: 1.00 s at 48000 Hz, in peak -6.0 dBFS RMS -9.0 dBFS, "
                                          "out peak -6.0 dBFS RMS -9.0 dBFS, gain reduction max 0.0 dB avg 0.0 dB, "))
    << r.out;
  // Output -6 dB with the compressor mixed out: the level drops, but that
  // is make-up gain, not gain reduction.
  r = Run({"-y", "--set", "Mix=0", "--set", "Output=-6", "sine.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("out peak -12.0 dBFS RMS -15.0 dBFS, gain reduction max 0.0 dB avg 0.0 dB"))
    << r.out;
  // A hard Input on the steady sine: real reduction, which the summary
  // reports as the level drop against the input.
  r = Run({"-y", "--set", "Input=150", "sine.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Audio out = ReadAudio(P("out.wav"));
  const double measured = -(RmsDb(out, 24000, 48000) - RmsDb(sine, 24000, 48000));
  const size_t at = r.out.find("gain reduction max ");
  ASSERT_NE(std::string::npos, at) << r.out;
  double maxGr = 0, avgGr = 0;
  ASSERT_EQ(2, sscanf(r.out.c_str() + at, "gain reduction max %lf dB avg %lf dB", &maxGr, &avgGr)) << r.out;
  // The reduction settles within milliseconds, so the second half's level
  // drop is the average over the whole second.
  EXPECT_GT(measured, 3.0);
  EXPECT_NEAR(measured, avgGr, 0.6);
  EXPECT_GE(maxGr, avgGr);
}

// A state, a DAW's .vstpreset and an LV2 host's session state saved with
// the release before Detector, Listen and the A/B slots: loaded now, the
// embedded loop renders to the very bytes that release rendered (the FNV-1a
// of each output file, rendered with its Tavlo.vst3), through either bundle,
// with the parameters added since at their defaults.
TEST_F(RenderTool, StatesPresetsAndSessionsOfTheReleaseBeforeRenderAsItDid)
{
  const std::string dir = TAVLO_OLD_RELEASE_DIR;
  struct Case
  {
    const char* option;
    const char* file;
    uint64_t fnv;
  };
  const Case cases[] = {
    {"--load-state", "glue.state", 0x7ee198cced2e979cull},
    {"--preset", "vocal.vstpreset", 0xf5f07bf0fde18948ull},
    {"--preset", "session.ttl", 0x2ef9170efa0f3607ull},
  };
  std::vector<std::vector<std::string>> plugins = {{}};
#ifdef TAVLO_CLAP_PATH
  plugins.push_back({"--plugin", TAVLO_CLAP_PATH});
#endif
  for (const Case& c : cases)
    for (const std::vector<std::string>& plugin : plugins)
    {
      SCOPED_TRACE(std::string(c.file) + (plugin.empty() ? "" : " through CLAP"));
      std::vector<std::string> args = plugin;
      args.insert(args.end(), {"-y", "-q", c.option, dir + "/" + c.file, "--save-state", "now.state", "out.wav"});
      const RunResult r = Run(args);
      ASSERT_EQ(0, r.exitCode) << r.err;
      uint64_t h = 0xcbf29ce484222325ull;
      for (unsigned char b : Slurp(P("out.wav"))) h = (h ^ b) * 0x100000001b3ull;
      EXPECT_EQ(c.fnv, h);
      const std::string now = Slurp(P("now.state"));
      ASSERT_EQ(232u, now.size());
      double appended[2];
      memcpy(appended, now.data() + 108, sizeof(appended));  // Detector Right, Listen off
      EXPECT_EQ(0.0, appended[0]);
      EXPECT_EQ(0.0, appended[1]);
      if (std::string(c.option) == "--load-state")
      {
        EXPECT_EQ(Slurp(dir + "/" + c.file).substr(0, 76), now.substr(0, 76));
      }
    }
}

// A state keeps both A/B slots; --slot renders and changes either, and the
// other stays as it was.
TEST_F(RenderTool, EitherSlotOfASavedStateRendersAsItsSettingsDo)
{
  MakeInput("in.wav");
  ASSERT_EQ(0, Run({"--set", "Input=150", "--save-state", "a.state"}).exitCode);
  RunResult r = Run({"--load-state", "a.state", "--slot", "B", "--set", "Input=60", "--set", "Detector=mid",
                     "--save-state", "ab.state"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  struct Case
  {
    std::vector<std::string> fromState, direct;
  };
  const Case cases[] = {
    {{"--load-state", "ab.state"}, {"--set", "Input=60", "--set", "Detector=mid"}},  // saved showing B
    {{"--load-state", "ab.state", "--slot", "b"}, {"--set", "Input=60", "--set", "Detector=mid"}},
    {{"--load-state", "ab.state", "--slot", "A"}, {"--set", "Input=150"}},
    {{"--load-state", "a.state", "--slot", "B"}, {"--set", "Input=150"}},  // B never set apart: A's
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.fromState.back());
    std::vector<std::string> a = c.fromState, b = c.direct;
    a.insert(a.begin(), "-y");
    b.insert(b.begin(), "-y");
    a.insert(a.end(), {"in.wav", "state.wav"});
    b.insert(b.end(), {"in.wav", "direct.wav"});
    ASSERT_EQ(0, (r = Run(a)).exitCode) << r.err;
    ASSERT_EQ(0, (r = Run(b)).exitCode) << r.err;
    EXPECT_EQ(Slurp(P("direct.wav")), Slurp(P("state.wav")));
  }
  r = Run({"--slot", "B", "in.wav", "out.wav"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("--slot chooses a slot of a saved state")) << r.err;
}

TEST_F(RenderTool, SavedStateReproducesTheSameOutputAndHoldsThePlainValues)
{
  MakeInput("in.wav");
  RunResult r = Run({"--set", "Input=80", "--set", "Output=3", "--set", "Release=0.2", "--set", "HPF=120",
                     "--save-state", "state.bin", "in.wav", "first.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const std::string state = Slurp(P("state.bin"));
  // Nine little-endian doubles (Input, Output, Attack, Release, Mix, HPF,
  // Oversample, Bypass, Sidechain), the bypass word and the tail (with
  // Detector, Listen and the A/B slots).
  ASSERT_EQ(232u, state.size());
  double values[9];
  memcpy(values, state.data(), sizeof(values));
  EXPECT_NEAR(80.0, values[0], 1e-9);
  EXPECT_NEAR(3.0, values[1], 1e-9);
  EXPECT_NEAR(0.005, values[2], 1e-9);
  EXPECT_NEAR(0.2, values[3], 1e-9);
  EXPECT_NEAR(100.0, values[4], 1e-9);
  EXPECT_NEAR(120.0, values[5], 1e-9);
  EXPECT_EQ(0.0, values[6]);
  EXPECT_EQ(0.0, values[7]);
  EXPECT_EQ(1.0, values[8]);
  EXPECT_EQ(std::string(4, '\0'), state.substr(72, 4));

  r = Run({"--load-state", "state.bin", "in.wav", "second.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Audio a = ReadAudio(P("first.wav")), b = ReadAudio(P("second.wav"));
  ASSERT_EQ(a.samples.size(), b.samples.size());
  EXPECT_EQ(0, memcmp(a.samples.data(), b.samples.data(), a.samples.size() * sizeof(float)));
  // And the state really matters: the default settings sound different.
  r = Run({"in.wav", "default.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Audio c = ReadAudio(P("default.wav"));
  EXPECT_NE(0, memcmp(a.samples.data(), c.samples.data(), a.samples.size() * sizeof(float)));
}

TEST_F(RenderTool, AutomationRampsTheOutputGainAtBlockStarts)
{
  const Audio in = MakeInput("in.wav", 48000, 2, 2.0);
  // Mix 0 makes the output exactly input x Output gain, so every block shows
  // the value it was sent: 0 dB up to 1 s, then down to -20 dB at 2 s.
  const RunResult r = Run({"--set", "Mix=0", "--automate", "Output=0:0,1:0,2:-20", "--block", "480",
                           "in.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Audio out = ReadAudio(P("out.wav"));
  ASSERT_EQ(in.Frames(), out.Frames());
  for (int64_t block = 0; block < in.Frames() / 480; ++block)
  {
    const double t = block * 480 / 48000.0;
    const double db = t <= 1.0 ? 0.0 : -20.0 * (t - 1.0);
    const double gain = std::pow(10.0, db / 20.0);
    for (int64_t f = block * 480; f < (block + 1) * 480; f += 97)
      for (int ch = 0; ch < 2; ++ch)
        ASSERT_NEAR(in.At(f, ch) * gain, out.At(f, ch), std::fabs(in.At(f, ch) * gain) * 1e-6 + 1e-9)
          << "frame " << f << " (block at " << t << " s, " << db << " dB)";
  }
  // The first change lands exactly at frame 48480, the block after 1 s.
  EXPECT_EQ(in.At(48479, 0), out.At(48479, 0));
  EXPECT_NE(in.At(48480, 0), out.At(48480, 0));
}

// ---- errors -----------------------------------------------------------

struct ErrorCase
{
  const char* what;
  std::vector<std::string> args;
  const char* message;
};

TEST_F(RenderTool, EveryErrorExitsNonZeroWithItsMessageAndLeavesNoFile)
{
  MakeInput("in.wav");
  MakeInput("mono44.wav", 44100, 1, 0.5);
  std::ofstream(P("garbage.wav")) << "not audio at all";
  std::ofstream(P("short.state")) << "12345678";
  Audio empty;
  empty.rate = 48000;
  empty.channels = 2;
  WriteAudio(P("empty.wav"), empty, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // Bundles that are not plug-ins: a library without the entry points, and
  // a module file that is not a library at all.
  mkdir(P("Zlib.vst3").c_str(), 0755);
  mkdir(P("Zlib.vst3/Contents").c_str(), 0755);
  mkdir(P("Zlib.vst3/Contents/x86_64-linux").c_str(), 0755);
  std::ofstream(P("Zlib.vst3/Contents/x86_64-linux/Zlib.so"), std::ios::binary)
    << Slurp("/lib/x86_64-linux-gnu/libz.so.1");
  mkdir(P("Text.vst3").c_str(), 0755);
  mkdir(P("Text.vst3/Contents").c_str(), 0755);
  mkdir(P("Text.vst3/Contents/x86_64-linux").c_str(), 0755);
  std::ofstream(P("Text.vst3/Contents/x86_64-linux/Text.so")) << "not a library";
  Audio three = TestSignal(48000, 3, 0.1);
  WriteAudio(P("three.wav"), three, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  std::ofstream(P("empty.state")).close();
  Audio slow;
  slow.rate = 1;
  slow.channels = 1;
  slow.samples = {0.1f, 0.2f, 0.3f};
  WriteAudio(P("rate1.wav"), slow, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  // Outputs no file can be renamed over and no data should be poured into:
  // a folder, a socket, a block device (our own node when we may make one),
  // a terminal.
  mkdir(P("sub").c_str(), 0755);
  const int ptyMaster = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(ptyMaster, 0);
  ASSERT_EQ(0, grantpt(ptyMaster));
  ASSERT_EQ(0, unlockpt(ptyMaster));
  const std::string tty = ptsname(ptyMaster);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", P("sock").c_str());
  ASSERT_EQ(0, bind(sock, (sockaddr*)&addr, sizeof(addr)));
  std::string disk = P("disk");
  if (mknod(disk.c_str(), S_IFBLK | 0600, makedev(7, 250)) != 0)
  {
    disk.clear();
    for (const char* d : {"/dev/loop0", "/dev/sda", "/dev/vda", "/dev/nvme0n1"})
    {
      struct stat st;
      if (stat(d, &st) == 0 && S_ISBLK(st.st_mode)) disk = d;
    }
    ASSERT_FALSE(disk.empty()) << "no block device to offer as OUTPUT";
  }
  const std::vector<ErrorCase> cases = {
    {"OUTPUT a folder", {"in.wav", "sub"}, "sub is a folder; name a file"},
    {"OUTPUT a socket", {"in.wav", "sock"},
     "sock is a socket; tavlo-render writes files, FIFOs and character devices only"},
    {"OUTPUT a block device", {"in.wav", disk},
     " is a block device; tavlo-render writes files, FIFOs and character devices only"},
    {"unknown parameter", {"--set", "Thresh=3", "in.wav", "out.wav"}, "unknown parameter 'Thresh'; parameters: Input, Output, Attack"},
    {"misspelt parameter", {"--automate", "relase=0:200", "in.wav", "out.wav"}, "unknown parameter 'relase'; did you mean Release? (see --params)"},
    {"misspelt preset", {"--preset", "Lead Vocl", "in.wav", "out.wav"}, "unknown preset 'Lead Vocl'; did you mean lead-vocal? (see --presets)"},
    {"OUTPUT a terminal", {"in.wav", tty}, " is a terminal; tavlo-render writes no audio, picture or state to one"},
    {"value above range", {"--set", "Input=400.5", "in.wav", "out.wav"}, "Input=400.5 is outside its range: Input takes 0 to 400"},
    {"value below range", {"--set", "HPF=10", "in.wav", "out.wav"}, "HPF=10 is outside its range: HPF takes 20 to 500 Hz (or 0.02 to 0.5 kHz)"},
    {"attack beyond its raised maximum", {"--set", "Attack=0.0102", "in.wav", "out.wav"}, "Attack=0.0102 is outside its range: Attack takes 0.1 to 10.1 ms (or 0.0001 to 0.0101 s)"},
    {"switch between steps", {"--set", "Oversample=0.5", "in.wav", "out.wav"}, "Oversample=0.5 is between steps: Oversample takes Off or On (or 0 or 1)"},
    {"automation out of range", {"--automate", "Mix=0:0,1:101", "in.wav", "out.wav"}, "--automate Mix: Mix=101 is outside its range: Mix takes 0 to 100 %"},
    {"automation malformed", {"--automate", "Mix=0:0,1", "in.wav", "out.wav"}, "is not TIME:VALUE"},
    {"automation going back", {"--automate", "Mix=1:0,0.5:10", "in.wav", "out.wav"}, "times must increase"},
    {"set and automated", {"--set", "Mix=1", "--automate", "Mix=0:0", "in.wav", "out.wav"}, "both set and automated"},
    {"no such control", {"--set", "Threshold=-20", "in.wav", "out.wav"}, "Tavlo has no Threshold: Input sets the threshold and the drive together"},
    {"no such control, automated", {"--automate", "ratio=0:4", "in.wav", "out.wav"}, "Tavlo has no ratio: Input sets"},
    {"unknown preset", {"--preset", "Vocals", "in.wav", "out.wav"}, "unknown preset 'Vocals'; presets: Default, Drum Bus Glue, "},
    {"missing input", {"missing.wav", "out.wav"}, "cannot open missing.wav: No such file"},
    {"unreadable input", {"garbage.wav", "out.wav"}, "cannot read garbage.wav as audio"},
    {"empty input", {"empty.wav", "out.wav"}, "empty.wav holds no audio"},
    {"three channels", {"three.wav", "out.wav"}, "three.wav has 3 channels; only mono and stereo are taken"},
    {"missing side-chain", {"--sidechain", "nosc.wav", "in.wav", "out.wav"}, "side-chain: cannot open nosc.wav"},
    {"side-chain rate", {"--sidechain", "mono44.wav", "in.wav", "out.wav"}, "is 44100 Hz but the input is 48000 Hz"},
    {"bundle that does not load", {"--plugin", "/nonexistent/Tavlo.vst3", "in.wav", "out.wav"}, "cannot load plug-in /nonexistent/Tavlo.vst3"},
    {"library without entry points", {"--plugin", "Zlib.vst3", "in.wav", "out.wav"}, "cannot load plug-in Zlib.vst3: module lacks ModuleEntry or GetPluginFactory"},
    {"module that is not a library", {"--plugin", "Text.vst3", "in.wav", "out.wav"}, "cannot load plug-in Text.vst3: "},
    {"folder that is not a bundle", {"--plugin", "/tmp", "in.wav", "out.wav"}, "cannot load plug-in /tmp"},
    {"unknown output type", {"in.wav", "out.mp3"}, "cannot tell the format of out.mp3"},
    {"float FLAC", {"--bits", "32f", "in.wav", "out.flac"}, "FLAC holds 16- or 24-bit samples"},
    {"bad bits", {"--bits", "20", "in.wav", "out.wav"}, "--bits must be 16, 24 or 32f"},
    {"bad block", {"--block", "0", "in.wav", "out.wav"}, "--block must be from 1 to 65536"},
    {"bad precision", {"--precision", "16", "in.wav", "out.wav"}, "--precision must be 32 or 64"},
    {"rate not the file's", {"--rate", "44100", "in.wav", "out.wav"}, "not 44100 Hz; tavlo-render does not resample"},
    {"state of another size", {"--load-state", "short.state", "in.wav", "out.wav"}, "the state holds 8 bytes; this plug-in's state has 76 (232 as it saves it now)"},
    {"missing state", {"--load-state", "none.state", "in.wav", "out.wav"}, "cannot open none.state"},
    {"unknown option", {"--wet", "3", "in.wav", "out.wav"}, "unknown option --wet"},
    {"no output", {}, "no OUTPUT file given"},
    {"output folder missing", {"in.wav", "nofolder/out.wav"}, "cannot write nofolder/out.wav"},
    {"plot and snapshot on one file", {"--plot", "x.png", "--snapshot", "x.png", "in.wav", "out.wav"}, "x.png is asked for twice"},
    {"snapshot over the audio", {"--snapshot", "out.png", "--format", "wav", "in.wav", "out.png"}, "would overwrite the audio"},
    {"empty state", {"--load-state", "empty.state", "in.wav", "out.wav"}, "empty.state: the state holds 0 bytes; this plug-in's state has 76 (232 as it saves it now)"},
    {"1 Hz input", {"rate1.wav", "out.wav"}, "rate1.wav is 1 Hz; tavlo-render takes 8000 to 768000 Hz"},
    {"1 Hz side-chain", {"--sidechain", "rate1.wav", "in.wav", "out.wav"}, "side-chain: rate1.wav is 1 Hz"},
    {"unknown option after the files", {"in.wav", "out.wav", "--wet"}, "unknown option --wet"},
    {"unknown short option", {"-x", "in.wav", "out.wav"}, "unknown option -x"},
    {"flag with a value", {"--version=3", "in.wav", "out.wav"}, "option --version takes no value"},
    // All outputs or none: the audio is finished when these fail.
    {"snapshot into a missing folder", {"--snapshot", "nofolder/s.png", "in.wav", "out.wav"}, "cannot write nofolder/s.png"},
    {"state on a full device", {"--save-state", "/dev/full", "in.wav", "out.wav"}, "cannot write /dev/full: No space left on device"},
    {"two outputs to standard output", {"--plot", "-", "in.wav", "-"}, "only one output can go to standard output"},
  };
  const std::vector<std::string> before = Listing(dir);
  for (const ErrorCase& c : cases)
  {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.args;
    // Every case also asks for the side products, none of which may appear.
    if (!args.empty() && c.args[0] != "--snapshot" && c.args[0] != "--plot")
      args.insert(args.begin(), {"--plot", "plot.png", "--save-state", "saved.state"});
    const RunResult r = Run(args);
    EXPECT_NE(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ(1u, (size_t)std::count(r.err.begin(), r.err.end(), '\n')) << "one line: " << r.err;
    EXPECT_EQ(before, Listing(dir)) << "files left behind";
  }
  // Standard output a terminal: refused, whatever would go there.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"in.wav", "-"}, {"--plot", "-", "in.wav", "o.wav"},
                                               {"--save-preset", "-"}, {"--curve", "-"}})
  {
    SCOPED_TRACE(args[0] + " " + args[1]);
    Streams streams;
    streams.stdoutFile = tty;
    const RunResult r = Run(args, Stop(), streams);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("standard output is a terminal; tavlo-render writes no audio")) << r.err;
    EXPECT_EQ(before, Listing(dir)) << "files left behind";
  }
  close(ptyMaster);
  close(sock);
  rmdir(P("sub").c_str());
}

TEST_F(RenderTool, NoOutputReplacesAnyInputEvenWithY)
{
  MakeInput("in.wav");
  MakeInput("sc.wav", 48000, 2, 0.5);
  MakeInput("a.wav", 48000, 2, 0.5);
  ASSERT_EQ(0, Run({"--save-state", "state.bin", "in.wav", "first.wav"}).exitCode);
  unlink(P("first.wav").c_str());
  ASSERT_EQ(0, symlink("sc.wav", P("sc-link.wav").c_str()));
  // Audio under a picture's name: libsndfile goes by the content.
  std::ofstream(P("sc-audio.png"), std::ios::binary) << Slurp(P("sc.wav"));
  // And under a state's and a preset's.
  std::ofstream(P("take.state"), std::ios::binary) << Slurp(P("a.wav"));
  std::ofstream(P("take.vstpreset"), std::ios::binary) << Slurp(P("a.wav"));
  mkdir(P("sub").c_str(), 0755);
  std::ofstream(P("sub/a.wav"), std::ios::binary) << Slurp(P("sc.wav"));
  std::vector<std::pair<std::string, std::string>> inputs;
  for (const char* f : {"in.wav", "sc.wav", "a.wav", "state.bin", "sc-audio.png", "take.state", "take.vstpreset",
                        "sub/a.wav"})
    inputs.push_back({f, Slurp(P(f))});

  struct Case
  {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    const char* message;
    bool stdinFromInput;
  };
  const Case cases[] = {
    {"OUTPUT over INPUT", {"in.wav", "./in.wav"}, 1, "OUTPUT is the same file as INPUT; choose another name", false},
    {"OUTPUT over the side-chain", {"--sidechain", "sc.wav", "in.wav", "sc.wav"}, 1,
     "OUTPUT is the same file as the --sidechain file", false},
    {"OUTPUT through a link to the side-chain", {"--sidechain", "sc.wav", "in.wav", "sc-link.wav"}, 1,
     "OUTPUT is the same file as the --sidechain file", false},
    {"OUTPUT over the loaded state", {"--format", "wav", "--load-state", "state.bin", "in.wav", "state.bin"}, 1,
     "OUTPUT is the same file as the --load-state file", false},
    {"OUTPUT over the file standard input comes from", {"-", "in.wav"}, 1, "OUTPUT is the same file as INPUT", true},
    {"plot over the side-chain", {"--sidechain", "sc-audio.png", "--plot", "sc-audio.png", "in.wav", "o.wav"}, 1,
     "sc-audio.png would overwrite an input (the --sidechain file)", false},
    {"saved state over the loaded one", {"--load-state", "state.bin", "--save-state", "state.bin", "in.wav", "o.wav"},
     1, "state.bin would overwrite an input (the --load-state file)", false},
    {"snapshot over INPUT", {"--snapshot", "sc-audio.png", "sc-audio.png", "o.wav"}, 1,
     "sc-audio.png would overwrite an input (INPUT)", false},
    {"batch output over the side-chain", {"-o", "sub", "--sidechain", "sub/a.wav", "a.wav"}, 1,
     "sub/a.wav is the same file as the --sidechain file", false},
    {"batch output over its own input", {"-o", "sub", "sub/a.wav"}, 1, "sub/a.wav is its own input", false},
    {"a forgotten plot name", {"--plot", "in.wav", "o.wav"}, 2,
     "--plot in.wav: pictures are written as PNG; give a name that ends in .png", false},
    {"a snapshot as JPEG", {"--snapshot", "in.jpg", "in.wav", "o.wav"}, 2,
     "--snapshot in.jpg: pictures are written as PNG", false},
    {"a curve as SVG", {"--curve", "in.svg"}, 2, "--curve in.svg: pictures are written as PNG", false},
    // Every writing option but OUTPUT (which -y lets replace an earlier
    // render) over audio that is not the run's input: a take named by
    // mistake, by its extension or by its content.
    {"state over the input", {"--save-state", "in.wav", "in.wav", "o.wav"}, 2,
     "--save-state in.wav: a state is not audio; give it a name of its own kind (in.state)", false},
    {"state over another take", {"--save-state", "a.wav", "in.wav", "o.wav"}, 2,
     "--save-state a.wav: a state is not audio", false},
    {"state alone over a take", {"--save-state", "A.FLAC"}, 2, "--save-state A.FLAC: a state is not audio", false},
    {"state over audio under a state's name", {"--save-state", "take.state", "in.wav", "o.wav"}, 1,
     "take.state is an audio file; it is not replaced by a picture, a state or a preset, -y or not", false},
    {"plot over audio under a picture's name", {"--plot", "sc-audio.png", "in.wav", "o.wav"}, 1,
     "sc-audio.png is an audio file", false},
    {"snapshot over audio under a picture's name", {"--snapshot", "sc-audio.png", "in.wav", "o.wav"}, 1,
     "sc-audio.png is an audio file", false},
    {"curve over audio under a picture's name", {"--curve", "sc-audio.png"}, 1, "sc-audio.png is an audio file", false},
    {"preset over the input", {"--save-preset", "in.wav", "in.wav", "o.wav"}, 2,
     "--save-preset in.wav: VST 3 presets are written as .vstpreset", false},
    {"preset over audio under a preset's name", {"--save-preset", "take.vstpreset"}, 1,
     "take.vstpreset is an audio file", false},
  };
  const std::vector<std::string> before = Listing(dir);
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"-y"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Streams streams;
    if (c.stdinFromInput) streams.stdinFile = P("in.wav");
    const RunResult r = Run(args, Stop(), streams);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    for (const auto& in : inputs) EXPECT_TRUE(Slurp(P(in.first)) == in.second) << in.first << " was changed";
    EXPECT_EQ(before, Listing(dir)) << "files left behind";
  }
  unlink(P("sub/a.wav").c_str());
  rmdir(P("sub").c_str());
}

TEST_F(RenderTool, AnInterruptedRenderLeavesNoFile)
{
  // About a minute of audio at 96 kHz: long enough to be caught mid-way.
  MakeInput("long.wav", 96000, 2, 60.0);
  const std::vector<std::string> before = Listing(dir);
  // Stopped once the audio's temporary file exists, so there is something
  // to clean up; a shell reports death by SIGINT as 130, by SIGTERM as 143.
  for (int sig : {SIGTERM, SIGINT})
  {
    SCOPED_TRACE(strsignal(sig));
    Stop stop;
    stop.signal = sig;
    stop.whenExists = ".out.wav.partial-";
    bool stopped = false;
    const RunResult r = Run({"--set", "Oversample=1", "--plot", "p.png", "long.wav", "out.wav"}, stop, Streams(),
                            &stopped);
    ASSERT_TRUE(stopped) << "the render ended before its temporary file was seen: " << r.err;
    EXPECT_EQ(128 + sig, r.exitCode);
    EXPECT_EQ(before, Listing(dir));
  }
}

// ---- formats, rates, side-chain ---------------------------------------

TEST_F(RenderTool, MonoAndEveryRateRenderAtTheirOwnRate)
{
  struct Case { int rate, channels; int format; const char* out; };
  const Case cases[] = {
    {44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, "out.wav"},
    {48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, "out.wav"},
    {96000, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "out.aiff"},
    {44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "out.flac"},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch, " + c.out);
    const char* inName = (c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? "in.flac" :
                         (c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF ? "in.aiff" : "in.wav";
    const Audio in = MakeInput(inName, c.rate, c.channels, 0.75, c.format);
    const int bits = (c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 ? 16 :
                     (c.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 24 : 32;
    const std::string bitsArg = bits == 32 ? "32f" : std::to_string(bits);

    // Bypassed: the same samples, in a file of the same sample format and
    // channels (a mono input comes out mono); the samples on their steps
    // take no dither.
    RunResult r = Run({"-y", "--set", "Bypass=1", "--bits", bitsArg, inName, c.out});
    ASSERT_EQ(0, r.exitCode) << r.err;
    Audio out = ReadAudio(P(c.out));
    EXPECT_EQ(c.rate, out.rate);
    ASSERT_EQ(c.channels, out.channels);
    ASSERT_EQ(in.Frames(), out.Frames());
    int64_t mismatches = 0;
    for (int64_t f = 0; f < in.Frames(); ++f)
      for (int ch = 0; ch < c.channels; ++ch)
        mismatches += in.At(f, ch) != out.At(f, ch);
    EXPECT_EQ(0, mismatches);

    // Compressing: a hard Input lowers the level.
    r = Run({"-y", "--set", "Input=150", "--bits", bitsArg, inName, c.out});
    ASSERT_EQ(0, r.exitCode) << r.err;
    out = ReadAudio(P(c.out));
    EXPECT_EQ(c.rate, out.rate);
    EXPECT_LT(RmsDb(out, 0, out.Frames()), RmsDb(in, 0, in.Frames()) - 3.0);
    EXPECT_EQ(std::string::npos, r.out.find("gain reduction max 0.0 dB")) << r.out;

    // The rate reaches the plug-in: after a loud burst the gain recovers by
    // a factor e every Release (300 ms), 20 log10(e) / 0.3 = 28.95 dB a
    // second of audio at every rate. Told another rate, the plug-in would
    // recover that much faster or slower per second.
    Audio probe;
    probe.rate = c.rate;
    probe.channels = 2;
    for (int i = 0; i < 2 * c.rate; ++i)
    {
      const double v = (i < c.rate / 2 ? 0.9 : 0.01) * std::sin(2 * M_PI * 1000.0 * i / c.rate);
      probe.samples.insert(probe.samples.end(), 2, (float)v);
    }
    WriteAudio(P("probe.wav"), probe, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    r = Run({"-y", "--set", "Input=150", "probe.wav", "recovery.wav"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const Audio recovery = ReadAudio(P("recovery.wav"));
    // When the quiet tone's 10 ms level (ten whole periods) first passes
    // -60 and -48 dBFS, between window centres.
    const int64_t w = c.rate / 100;
    double prevT = 0, prevDb = -1000, t60 = -1, t48 = -1;
    for (int64_t at = c.rate / 2; at + w <= recovery.Frames(); at += w)
    {
      const double t = (at + w / 2.0) / c.rate, db = RmsDb(recovery, at, at + w);
      if (t60 < 0 && db >= -60 && prevDb < -60) t60 = prevT + (t - prevT) * (-60 - prevDb) / (db - prevDb);
      if (t48 < 0 && db >= -48 && prevDb < -48) t48 = prevT + (t - prevT) * (-48 - prevDb) / (db - prevDb);
      prevT = t;
      prevDb = db;
    }
    ASSERT_GT(t60, 0.5);
    ASSERT_GT(t48, t60);
    EXPECT_NEAR(20 * std::log10(std::exp(1.0)) / 0.3, 12.0 / (t48 - t60), 0.3) << "dB per second";
  }
  unlink(P("probe.wav").c_str());
  unlink(P("recovery.wav").c_str());
}

// The output's precision follows the input's unless --bits says otherwise,
// and a reduction to PCM is dithered (TPDF: the rounding errors spread
// over two steps and average out) unless --no-dither; float output that
// peaks above full scale is said.
TEST_F(RenderTool, OutputPrecisionFollowsTheInputAndPcmIsDithered)
{
  const struct
  {
    int in;
    std::vector<std::string> args;
    int out;
  } cases[] = {
    {SF_FORMAT_PCM_16, {}, SF_FORMAT_PCM_16},          {SF_FORMAT_PCM_U8, {}, SF_FORMAT_PCM_16},
    {SF_FORMAT_PCM_24, {}, SF_FORMAT_PCM_24},          {SF_FORMAT_PCM_32, {}, SF_FORMAT_FLOAT},
    {SF_FORMAT_FLOAT, {}, SF_FORMAT_FLOAT},            {SF_FORMAT_PCM_16, {"--bits", "32f"}, SF_FORMAT_FLOAT},
    {SF_FORMAT_PCM_24, {"--bits", "16"}, SF_FORMAT_PCM_16},
  };
  for (const auto& c : cases)
  {
    SCOPED_TRACE(std::to_string(c.in) + " to " + std::to_string(c.out));
    MakeInput("in.wav", 48000, 2, 0.2, SF_FORMAT_WAV | c.in);
    std::vector<std::string> args = {"-y", "--set", "Input=80"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"in.wav", "out.wav"});
    const RunResult r = Run(args);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(SF_FORMAT_WAV | c.out, ReadAudio(P("out.wav")).format);
  }
  // A quiet compressed tone to 16 bits: dithered, the errors of rounding
  // against the float render spread over (-1.5, 1.5) steps with no bias;
  // undithered, within half a step.
  MakeInput("in.wav", 48000, 2, 0.5);
  ASSERT_EQ(0, Run({"-y", "--set", "Input=80", "--set", "Output=-20dB", "in.wav", "float.wav"}).exitCode);
  ASSERT_EQ(0, Run({"-y", "--set", "Input=80", "--set", "Output=-20dB", "--bits", "16", "in.wav", "d.wav"}).exitCode);
  ASSERT_EQ(0, Run({"-y", "--set", "Input=80", "--set", "Output=-20dB", "--bits", "16", "--no-dither", "in.wav",
                    "n.wav"}).exitCode);
  const Audio f = ReadAudio(P("float.wav")), d = ReadAudio(P("d.wav")), n = ReadAudio(P("n.wav"));
  ASSERT_EQ(f.samples.size(), d.samples.size());
  ASSERT_EQ(f.samples.size(), n.samples.size());
  double sum = 0.0, widest = 0.0, widestPlain = 0.0;
  int64_t beyondHalf = 0;
  for (size_t i = 0; i < f.samples.size(); ++i)
  {
    const double e = (d.samples[i] - f.samples[i]) * 32768.0, p = (n.samples[i] - f.samples[i]) * 32768.0;
    sum += e;
    widest = std::max(widest, std::fabs(e));
    widestPlain = std::max(widestPlain, std::fabs(p));
    beyondHalf += std::fabs(e) > 0.5;
  }
  EXPECT_LE(widestPlain, 0.5 + 1e-6);
  EXPECT_LT(widest, 1.5 + 1e-6);
  EXPECT_GT(beyondHalf, (int64_t)f.samples.size() / 10) << "no dither";
  EXPECT_LT(std::fabs(sum / (double)f.samples.size()), 0.05) << "biased";
  // Float over full scale.
  const RunResult loud = Run({"-y", "--set", "Output=+20dB", "in.wav", "loud.wav"});
  ASSERT_EQ(0, loud.exitCode) << loud.err;
  EXPECT_NE(std::string::npos, loud.err.find("loud.wav: peaks at +")) << loud.err;
}

// -n keeps what is there: a render whose OUTPUT exists is skipped, a batch
// run again renders only the files that are missing and says how many it
// skipped apart from any that failed; -n with -y is a contradiction.
TEST_F(RenderTool, NoClobberSkipsOutputsThatExist)
{
  MakeInput("a.wav", 48000, 2, 0.2);
  MakeInput("b.wav", 48000, 2, 0.2);
  std::ofstream(P("out.wav")) << "mine";
  RunResult r = Run({"-n", "a.wav", "out.wav"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("out.wav exists; skipped (-n)")) << r.err;
  EXPECT_EQ("mine", Slurp(P("out.wav")));
  mkdir(P("done").c_str(), 0755);
  std::ofstream(P("done/a.wav")) << "kept";
  std::ofstream(P("c.wav")) << "not audio";
  r = Run({"-n", "-o", "done", "a.wav", "b.wav", "c.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("1 of 3 files failed (1 skipped, their outputs exist)")) << r.err;
  EXPECT_EQ("kept", Slurp(P("done/a.wav")));
  EXPECT_EQ(9600, ReadAudio(P("done/b.wav")).Frames());
  r = Run({"-n", "-o", "done", "a.wav", "b.wav"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("done/b.wav exists; skipped (-n)")) << r.err;
  r = Run({"-n", "-y", "a.wav", "out.wav"});
  EXPECT_EQ(2, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("-n keeps outputs that exist and -y replaces them")) << r.err;
}

TEST_F(RenderTool, PcmOutputClipsAtFullScaleInsteadOfWrapping)
{
  const Audio in = MakeInput("in.wav");
  // Mix 0 and +20 dB: ten times the input, far past full scale.
  const RunResult r = Run({"--set", "Mix=0", "--set", "Output=20", "--bits", "16", "in.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Audio out = ReadAudio(P("out.wav"));
  ASSERT_EQ(in.samples.size(), out.samples.size());
  int64_t clippedHigh = 0, clippedLow = 0;
  for (size_t i = 0; i < in.samples.size(); ++i)
  {
    const double want = std::round(in.samples[i] * 10.0 * 32768.0);
    const double got = out.samples[i] * 32768.0;
    if (want >= 32767) clippedHigh += got == 32767;
    else if (want <= -32768) clippedLow += got == -32768;
    else ASSERT_NEAR(want, got, 1.0) << "sample " << i;
  }
  EXPECT_GT(clippedHigh, 1000);
  EXPECT_GT(clippedLow, 1000);
  int64_t wantHigh = 0, wantLow = 0;
  for (float v : in.samples)
  {
    wantHigh += std::round(v * 10.0 * 32768.0) >= 32767;
    wantLow += std::round(v * 10.0 * 32768.0) <= -32768;
  }
  EXPECT_EQ(wantHigh, clippedHigh);
  EXPECT_EQ(wantLow, clippedLow);
  // Said, with the count, not silently.
  const std::string warning = "warning: out.wav: " + std::to_string(wantHigh + wantLow) +
                              " samples clipped at full scale by 16-bit output";
  EXPECT_NE(std::string::npos, r.err.find(warning)) << r.err;
}

TEST_F(RenderTool, EmbeddedLoopIsEightSecondsAtAnyRateAndTheSameEveryTime)
{
  for (const char* rate : {"48000", "44100"})
  {
    SCOPED_TRACE(rate);
    RunResult r = Run({"-y", "--rate", rate, "--set", "Bypass=1", "a.wav"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    r = Run({"-y", "--rate", rate, "--set", "Bypass=1", "b.wav"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const Audio a = ReadAudio(P("a.wav")), b = ReadAudio(P("b.wav"));
    EXPECT_EQ(atoi(rate) * 8, a.Frames());
    EXPECT_EQ(a.samples, b.samples);
    float peak = 0;
    for (float v : a.samples) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(-0.3, 20 * std::log10(peak), 0.01);
    // Left and right differ (hats are panned), and the loop is not silent anywhere long.
    EXPECT_NE(a.At(10000, 0), a.At(10000, 1));
    for (int64_t s = 0; s + 4800 <= a.Frames(); s += 4800 * 4) EXPECT_GT(RmsDb(a, s, s + 4800), -60.0) << s;
  }
}

TEST_F(RenderTool, SidechainFeedsTheDetectorOnlyWhenGiven)
{
  const Audio in = MakeInput("in.wav");
  Audio silence = in;
  std::fill(silence.samples.begin(), silence.samples.end(), 0.0f);
  WriteAudio(P("silence.wav"), silence, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  Audio half = TestSignal(48000, 1, 0.75);  // shorter: the rest is silence
  WriteAudio(P("short.wav"), half, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

  // Own signal in the detector: heavy reduction.
  RunResult r = Run({"--set", "Input=150", "in.wav", "own.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  // A silent side-chain: the detector hears nothing, the level stays.
  r = Run({"--set", "Input=150", "--sidechain", "silence.wav", "in.wav", "silent.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  // Told to keep listening to the main input: same as without side-chain.
  r = Run({"--set", "Input=150", "--set", "Sidechain=1", "--sidechain", "silence.wav", "in.wav", "main.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  // A side-chain that stops half-way: reduction in the first half only.
  r = Run({"--set", "Input=150", "--sidechain", "short.wav", "in.wav", "half.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;

  const Audio own = ReadAudio(P("own.wav")), silent = ReadAudio(P("silent.wav"));
  const Audio main = ReadAudio(P("main.wav")), halfOut = ReadAudio(P("half.wav"));
  const double inDb = RmsDb(in, 0, in.Frames());
  EXPECT_LT(RmsDb(own, 0, own.Frames()), inDb - 6.0);
  EXPECT_NEAR(inDb, RmsDb(silent, 0, silent.Frames()), 0.5);
  EXPECT_EQ(own.samples, main.samples);
  const int64_t mid = 36000;
  EXPECT_LT(RmsDb(halfOut, 0, mid), RmsDb(in, 0, mid) - 6.0);
  EXPECT_NEAR(RmsDb(in, mid + 4800, in.Frames()), RmsDb(halfOut, mid + 4800, in.Frames()), 0.5);
}

TEST_F(RenderTool, PlotAndSnapshotArePngsOfTheirSize)
{
  MakeInput("in.wav");
  const RunResult r = Run({"--set", "Input=120", "--plot", "plot.png", "--snapshot", "editor.png",
                           "in.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const std::string plot = Slurp(P("plot.png")), editor = Slurp(P("editor.png"));
  ASSERT_GT(plot.size(), 24u);
  ASSERT_GT(editor.size(), 24u);
  EXPECT_EQ("\x89PNG", plot.substr(0, 4));
  EXPECT_EQ(1600u, PngU32(plot, 16));
  EXPECT_EQ(940u, PngU32(plot, 20));
  EXPECT_EQ("\x89PNG", editor.substr(0, 4));
  EXPECT_EQ(786u, PngU32(editor, 16));
  EXPECT_EQ(483u, PngU32(editor, 20));
}

struct Image
{
  int w = 0, h = 0;
  std::vector<uint32_t> px;  // RGBA bytes packed per pixel
  uint32_t At(int x, int y) const { return px[(size_t)y * w + x]; }
};

Image LoadPng(const std::string& path)
{
  Image img;
  png_image pi;
  memset(&pi, 0, sizeof(pi));
  pi.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&pi, path.c_str())) return img;
  pi.format = PNG_FORMAT_RGBA;
  img.w = (int)pi.width;
  img.h = (int)pi.height;
  img.px.resize((size_t)img.w * img.h);
  if (!png_image_finish_read(&pi, nullptr, img.px.data(), 0, nullptr)) img = Image();
  return img;
}

int DifferingPixels(const Image& a, const Image& b, int x0, int y0, int x1, int y1)
{
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) n += a.At(x, y) != b.At(x, y);
  return n;
}

TEST_F(RenderTool, SnapshotShowsTheKnobsAndMeterOfTheRenderedInstance)
{
  Audio sine;
  sine.rate = 48000;
  sine.channels = 2;
  for (int i = 0; i < 48000; ++i)
    for (int ch = 0; ch < 2; ++ch) sine.samples.push_back((float)(0.5 * std::sin(2 * M_PI * 1000.0 * i / 48000.0)));
  WriteAudio(P("sine.wav"), sine, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

  RunResult r = Run({"--set", "Input=0", "--snapshot", "rest.png", "sine.wav", "a.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  // Heavy reduction at the end of the render, and Input turned up only by
  // automation, so the knob can only show it if the automation reached the
  // editor's instance.
  r = Run({"--automate", "Input=0:0,0.5:200", "--snapshot", "busy.png", "sine.wav", "b.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Image rest = LoadPng(P("rest.png")), busy = LoadPng(P("busy.png"));
  ASSERT_EQ(786, rest.w);
  ASSERT_EQ(483, rest.h);
  ASSERT_EQ(786, busy.w);
  ASSERT_EQ(483, busy.h);
  // The gain-reduction meter (168 x 124 at 309, 48) and the Input knob
  // (146 x 146 at 127, 279) moved; the Output knob (at 506, 279) and the
  // panel corner did not.
  EXPECT_GT(DifferingPixels(rest, busy, 309, 48, 309 + 168, 48 + 124), 200);
  EXPECT_GT(DifferingPixels(rest, busy, 127, 279, 127 + 146, 279 + 146), 200);
  EXPECT_EQ(0, DifferingPixels(rest, busy, 506, 279, 506 + 146, 279 + 146));
  EXPECT_EQ(0, DifferingPixels(rest, busy, 0, 0, 100, 40));
  // Opaque throughout: the editor covers its whole area.
  int transparent = 0;
  for (uint32_t p : busy.px) transparent += (p >> 24) != 0xFF;
  EXPECT_EQ(0, transparent);

  // Settings restored from a state show exactly as the same settings given
  // on the command line: knobs and meter (a restored state once showed the
  // default knobs over its meter).
  ASSERT_EQ(0, Run({"--set", "Input=200", "--set", "Mix=60", "--save-state", "s.state"}).exitCode);
  r = Run({"--load-state", "s.state", "--snapshot", "loaded.png", "sine.wav", "c.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  r = Run({"--set", "Input=200", "--set", "Mix=60", "--snapshot", "set.png", "sine.wav", "d.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Image loaded = LoadPng(P("loaded.png")), set = LoadPng(P("set.png"));
  ASSERT_TRUE(loaded.w == 786 && loaded.h == 483 && set.w == 786 && set.h == 483);
  EXPECT_GT(DifferingPixels(rest, loaded, 127, 279, 127 + 146, 279 + 146), 200);
  EXPECT_EQ(0, DifferingPixels(loaded, set, 0, 0, 786, 483));

  // The parameters a state keeps after its first values show too: Detector
  // lights the name chosen (segments of 48 pixels from 268, lit amber above
  // the text at y 462) and Listen its track (from 478, at y 469).
  r = Run({"--set", "Detector=linked", "--set", "Listen=on", "--snapshot", "linked.png", "sine.wav", "e.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const Image linked = LoadPng(P("linked.png"));
  ASSERT_TRUE(linked.w == 786 && linked.h == 483);
  auto amber = [](const Image& img, int x, int y) {
    const uint32_t p = img.px[(size_t)y * (size_t)img.w + (size_t)x];  // R, G, B, A in memory order
    return (p & 255) > 180 && ((p >> 16) & 255) < 110;
  };
  for (int name = 0; name < 4; ++name)
  {
    EXPECT_EQ(amber(rest, 268 + 48 * name + 24, 462), name == 0) << "Right by default, segment " << name;
    EXPECT_EQ(amber(linked, 268 + 48 * name + 24, 462), name == 2) << "Linked, segment " << name;
  }
  EXPECT_FALSE(amber(rest, 482, 469));
  EXPECT_TRUE(amber(linked, 482, 469));
}

// ---- values, help and documentation -----------------------------------

// The nine doubles of a saved state.
std::vector<double> StateValues(const std::string& bytes)
{
  std::vector<double> v(9);
  if (bytes.size() >= 76) memcpy(v.data(), bytes.data(), 72);
  return v;
}

// The pictures of the renderer and of the off-screen editor in docs/ are
// what this build draws, made as scripts/docs-pictures makes them.
TEST_F(RenderTool, ThePicturesInDocsAreWhatThisBuildDraws)
{
  Audio silence;
  silence.rate = 48000;
  silence.channels = 2;
  silence.samples.assign(2 * 96000, 0.0f);
  WriteAudio(P("silence.wav"), silence, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ASSERT_EQ(0, Run({"-q", "--set", "Input=80", "--plot", "render-plot.png", "--snapshot", "render-snapshot.png",
                    "compressed.wav"}).exitCode);
  ASSERT_EQ(0, Run({"-q", "--curve", "render-curve.png"}).exitCode);
  ASSERT_EQ(0, Run({"-q", "--snapshot", "editor.png", "silence.wav", "silence-out.wav"}).exitCode);
  for (const char* name : {"render-plot.png", "render-snapshot.png", "render-curve.png", "editor.png"})
  {
    SCOPED_TRACE(name);
    const Image now = LoadPng(P(name)), docs = LoadPng(std::string(TAVLO_DOCS_DIR) + "/" + name);
    ASSERT_GT(now.w, 0);
    ASSERT_TRUE(docs.w == now.w && docs.h == now.h) << "docs/" << name << " is " << docs.w << "x" << docs.h
                                                    << ", this build draws " << now.w << "x" << now.h
                                                    << ": run scripts/docs-pictures";
    EXPECT_EQ(0, DifferingPixels(now, docs, 0, 0, now.w, now.h))
      << "docs/" << name << " is not what this build draws: run scripts/docs-pictures";
  }
}

TEST_F(RenderTool, ValuesAreReadInTheirUnitsAndWrongOnesNamed)
{
  MakeInput("in.wav", 48000, 2, 0.2);
  struct Form
  {
    std::vector<std::string> sets;
    double values[9];  // Input, Output, Attack, Release, Mix, HPF, Oversample, Bypass, Sidechain
    const char* preset = nullptr;  // --preset, which the --set values change
  };
  const Form forms[] = {
    {{"Input = 120", "Output=-3dB", "Attack=5ms", "Release=300ms", "Mix=50%", "HPF=0.08kHz", "Oversample=on",
      "Bypass=off", "Sidechain=internal"},
     {120, -3, 0.005, 0.3, 50, 80, 1, 0, 1}},
    {{"Input=60", "Output=2.5 dB", "Attack=0.002s", "Release=0.4 s", "Mix=25", "HPF=200Hz", "Oversample=OFF",
      "Bypass=0", "Sidechain=external"},
     {60, 2.5, 0.002, 0.4, 25, 200, 0, 0, 0}},
    {{"Attack=0.005", "Release=0.2", "Oversample=1", "Sidechain=1", "HPF=120"},  // bare numbers, as always
     {0, 0, 0.005, 0.2, 100, 120, 1, 0, 1}},
    // Factory presets, selected in the bundle by name or by their word.
    {{}, {160, 6.5, 0.002, 0.15, 100, 100, 0, 0, 1}, "Lead Vocal"},
    {{"Output=0dB", "Mix=50%"}, {180, 0, 0.010, 0.1, 50, 20, 0, 0, 1}, "kick-snare-punch"},
    {{}, {120, 0.5, 0.0001, 0.1, 100, 20, 1, 0, 1}, "AGGRESSIVE CHARACTER"},
    {{"Input=30"}, {30, 0, 0.005, 0.3, 100, 20, 0, 0, 1}, "default"},
  };
  for (const Form& f : forms)
  {
    SCOPED_TRACE(f.preset ? f.preset : f.sets[0].c_str());
    std::vector<std::string> args = {"-y", "--save-state", "s.state"};
    if (f.preset) args.insert(args.end(), {"--preset", f.preset});
    for (const std::string& set : f.sets) args.insert(args.end(), {"--set", set});
    args.insert(args.end(), {"in.wav", "out.wav"});
    const RunResult r = Run(args);
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<double> v = StateValues(Slurp(P("s.state")));
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(f.values[i], v[i], 1e-9 * std::max(1.0, std::fabs(f.values[i]))) << i;
  }

  // Wrong values: the command line is wrong (exit 2), nothing is written,
  // and the message names the parameter, its unit and its range.
  struct Bad
  {
    std::vector<std::string> args;
    const char* message;
  };
  const Bad bad[] = {
    {{"--set", "Attack=5"}, "Attack=5 is outside its range (a number without unit is in s; for ms write 5ms): "
                            "Attack takes 0.1 to 10.1 ms (or 0.0001 to 0.0101 s)"},
    {{"--set", "Attack=20ms"}, "Attack=20ms is outside its range: Attack takes 0.1 to 10.1 ms (or 0.0001 to 0.0101 s)"},
    {{"--set", "Release=0.05s"}, "Release takes 100 to 500 ms (or 0.1 to 0.5 s)"},
    {{"--set", "HPF=0.6kHz"}, "HPF=0.6kHz is outside its range: HPF takes 20 to 500 Hz (or 0.02 to 0.5 kHz)"},
    {{"--set", "Output=-3dBFS"}, "Output=-3dBFS: 'dBFS' is not a unit of Output; Output takes -20 to 20 dB"},
    {{"--set", "Input=3dB"}, "Input=3dB: 'dB' is not a unit of Input; Input takes 0 to 400"},
    {{"--set", "Mix=150%"}, "Mix=150% is outside its range: Mix takes 0 to 100 %"},
    {{"--set", "Mix=%"}, "Mix=% is not a value: Mix takes 0 to 100 %"},
    {{"--set", "Sidechain=maybe"}, "Sidechain=maybe is not a value: Sidechain takes External or Internal (or 0 or 1)"},
    {{"--set", "Oversample=2"}, "Oversample=2 is outside its range: Oversample takes Off or On (or 0 or 1)"},
    {{"--set", "Release=nan"}, "Release=nan is not a value"},
    {{"--set", "Input=0x10"}, "Input=0x10 is not a value"},
    {{"--set", "Bypass="}, "Bypass needs a value: Bypass takes Off or On (or 0 or 1)"},
    {{"--automate", "Attack=0:1ms,1:20ms"}, "--automate Attack: Attack=20ms is outside its range"},
    {{"--automate", "Bypass=0:off,1:maybe"}, "--automate Bypass: Bypass=maybe is not a value"},
  };
  const std::vector<std::string> before = Listing(dir);
  for (const Bad& b : bad)
  {
    SCOPED_TRACE(b.message);
    std::vector<std::string> args = b.args;
    args.insert(args.end(), {"in.wav", "new.wav"});
    const RunResult r = Run(args);
    EXPECT_EQ(2, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find(b.message)) << r.err;
    EXPECT_EQ(before, Listing(dir));
  }

  // A fraction given to a percentage renders as asked, with a word of warning.
  const RunResult r = Run({"--set", "Mix=0.5", "in.wav", "mix.wav"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("warning: Mix=0.5 means 0.5 %; write Mix=50% for 50 percent")) << r.err;
  // A side-chain that the detector is told not to hear.
  const RunResult sc = Run({"--set", "Sidechain=internal", "--sidechain", "in.wav", "in.wav", "sc.wav"});
  EXPECT_EQ(0, sc.exitCode) << sc.err;
  EXPECT_NE(std::string::npos, sc.err.find("warning: Sidechain is internal, so in.wav will not drive the detector"))
    << sc.err;
  // The side-chain listened to with nothing on it: silence, no compression.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--set", "Sidechain=external"}, {"--automate", "Sidechain=0:internal,1:external"}})
  {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> line = args;
    line.insert(line.end(), {"-y", "in.wav", "ext.wav"});
    const RunResult ext = Run(line);
    EXPECT_EQ(0, ext.exitCode) << ext.err;
    EXPECT_NE(std::string::npos, ext.err.find("warning: Sidechain is external but no --sidechain FILE is given: the "
                                              "detector hears silence and nothing is compressed"))
      << ext.err;
  }
  // ... and so from a state or a DAW's preset, unless the line says internal.
  ASSERT_EQ(0, Run({"--set", "Sidechain=external", "--set", "Input=150", "--save-state", "ext.state"}).exitCode);
  RunResult fromState = Run({"-y", "--load-state", "ext.state", "in.wav", "ext.wav"});
  EXPECT_EQ(0, fromState.exitCode) << fromState.err;
  EXPECT_NE(std::string::npos, fromState.err.find("warning: ext.state has Sidechain external but no --sidechain FILE "
                                                  "is given"))
    << fromState.err;
  fromState = Run({"-y", "--load-state", "ext.state", "--set", "Sidechain=internal", "in.wav", "ext.wav"});
  EXPECT_EQ(0, fromState.exitCode) << fromState.err;
  EXPECT_EQ("", fromState.err);
  // A take on the left channel alone: the default detector hears silence.
  Audio left = TestSignal(48000, 2, 1.0);
  for (size_t i = 1; i < left.samples.size(); i += 2) left.samples[i] = 0.0f;
  WriteAudio(P("left.wav"), left, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const RunResult silent = Run({"-y", "--set", "Input=150", "left.wav", "left-out.wav"});
  EXPECT_EQ(0, silent.exitCode) << silent.err;
  EXPECT_NE(std::string::npos, silent.err.find("warning: left.wav: the right channel is silent and Detector is Right"))
    << silent.err;
  for (const char* heard : {"Detector=left", "Detector=linked", "Detector=mid"})
  {
    const RunResult r = Run({"-y", "--set", "Input=150", "--set", heard, "left.wav", "left-out.wav"});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("", r.err) << heard;
  }
}

// Runs a shell command in dir; its standard output, or "" with the status.
std::string Shell(const std::string& dir, const std::string& command, int* status = nullptr)
{
  FILE* p = popen(("cd '" + dir + "' && " + command).c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  const int rc = p ? pclose(p) : -1;
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST_F(RenderTool, HelpParamsManPageAndCompletionComeFromOneText)
{
  RunResult r = RunTool({"--version"}, dir);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("tavlo-render 3.3.0 (Tavlo 3.3.0, Quillmarshworks)\n", r.out);

  // --params: every parameter with its unit, range, default and meaning.
  const RunResult params = RunTool({"--params"}, dir);
  EXPECT_EQ(0, params.exitCode);
  EXPECT_EQ("", params.err);  // no complaint about the editor's images
  for (const char* line : {"  Input       0 to 400, default 0\n",
                           "  Output      -20 to 20 dB, default 0.0 dB\n",
                           "  Attack      0.1 to 10.1 ms (or 0.0001 to 0.0101 s), default 5.0 ms\n",
                           "  Release     100 to 500 ms (or 0.1 to 0.5 s), default 300 ms\n",
                           "  Mix         0 to 100 %, default 100 %\n",
                           "  HPF         20 to 500 Hz (or 0.02 to 0.5 kHz), default 20 Hz\n",
                           "  Oversample  Off or On (or 0 or 1), default Off\n",
                           "  Bypass      Off or On (or 0 or 1), default Off\n",
                           "  Sidechain   External or Internal (or 0 or 1), default Internal\n",
                           "  Detector    Right, Left, Linked or Mid (or 0 to 3), default Right\n",
                           "  Listen      Off or On (or 0 or 1), default Off\n",
                           "threshold and drive together", "neither a threshold nor a ratio",
                           "the side-chain input (0, external)", "Right (the right channel only",
                           "Linked (both channels, each", "linear-phase, so material near full scale"})
    EXPECT_NE(std::string::npos, params.out.find(line)) << line;

  // --help: complete, in the same words, and no line a terminal would wrap.
  r = RunTool({"-h"}, dir);
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(r.out, RunTool({"--help"}, dir).out);
  const std::string table = params.out.substr(params.out.find('\n') + 1);
  EXPECT_NE(std::string::npos, r.out.find(table)) << "the parameter table of --help differs from --params";
  for (const char* option : {"--preset NAME", "--presets", "Factory presets", "Lead Vocal (lead-vocal)",
                             "--set NAME=VALUE", "--automate", "--sidechain", "-o, --output-dir DIR", "--format",
                             "-j, --jobs N", "-y, --force", "--plugin", "--rate", "--block", "--precision", "--bits",
                             "--save-state", "--load-state", "--plot", "--snapshot", "--curve", "--json",
                             "-q, --quiet", "--params", "--version", "-h, --help", "Exit status:", "  2  ",
                             "libsndfile reads (.wav, .flac,", ", .ogg", ", .mp3"})
    EXPECT_NE(std::string::npos, r.out.find(option)) << option;
  // What each value may be and what holds without it, from the option table.
  for (const char* line : {"  --block N                frames per process call (1 to 65536; default 512)\n",
                           "  --precision 32|64        sample size of the process calls (default 32)\n",
                           "instance of its own (1 to 64; default 1)\n", "(8000 to\n                           768000; default 48000)",
                           "  --bits 16|24|32f         output sample format; PCM is dithered (TPDF, one\n"})
    EXPECT_NE(std::string::npos, r.out.find(line)) << line;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 80u) << line;

  // The manual page renders without a warning and says the same.
  r = RunTool({"--man-page"}, dir);
  ASSERT_EQ(0, r.exitCode);
  std::ofstream(P("tavlo-render.1")) << r.out;
  int status = -1;
  const std::string page = Shell(dir, "MANWIDTH=100 man --warnings -l tavlo-render.1 2>man.err", &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ("", Slurp(P("man.err")));
  for (const char* text : {"-o, --output-dir DIR", "Attack", "0.1 to 10.1 ms (or 0.0001 to 0.0101 s), default 5.0 ms",
                           "frames per process call (1 to 65536; default 512)",
                           "EXIT STATUS", "replace outputs that already exist", "FACTORY PRESETS",
                           "Kick & Snare Punch (kick-snare-punch)"})
    EXPECT_NE(std::string::npos, page.find(text)) << text;

  // Completion: options, parameter names, units after a number, switch words.
  r = RunTool({"--bash-completion"}, dir);
  ASSERT_EQ(0, r.exitCode);
  std::ofstream(P("completion.bash")) << r.out;
  std::ofstream(P("take.flac")) << "x";
  for (const char* f : {"song.mp3", "song.ogg", "song.txt"}) std::ofstream(P(f)) << "x";
  struct Completion
  {
    const char* line;
    const char* expect;  // COMPREPLY joined by spaces
  };
  const Completion completions[] = {
    {"tavlo-render --js", "--json"},
    {"tavlo-render --set At", "Attack="},
    {"tavlo-render --set Attack=5", "5ms 5s"},
    {"tavlo-render --set HPF=80", "80Hz 80kHz"},
    {"tavlo-render --set Sidechain=e", "external"},
    {"tavlo-render --automate Oversample=0:off,1:o", "off on"},
    {"tavlo-render --format f", "flac"},
    {"tavlo-render --precision ", "32 64"},
    {"tavlo-render --bits 3", "32f"},
    {"tavlo-render --preset d", "default drum-bus-glue drum-room-crush"},
    {"tavlo-render take", "take.flac"},
    {"tavlo-render song", "song.mp3 song.ogg"},  // what libsndfile reads
  };
  for (const Completion& c : completions)
  {
    SCOPED_TRACE(c.line);
    const std::string line = c.line;
    const std::string script = "source ./completion.bash; COMP_LINE='" + line + "'; COMP_POINT=" +
                               std::to_string(line.size()) + "; _tavlo_render; echo \"${COMPREPLY[*]}\"";
    std::ofstream(P("complete.sh")) << script;
    EXPECT_EQ(std::string(c.expect) + "\n", Shell(dir, "bash complete.sh"));
  }
}

// ---- presets a DAW saved -----------------------------------------------

#ifdef TAVLO_LV2_BUNDLE_PATH
// URIs to numbers and back, as a host maps them for lilv.
struct UridMap
{
  std::vector<std::string> uris;
  LV2_URID_Map map{this, [](LV2_URID_Map_Handle h, const char* uri) -> LV2_URID {
                     auto& all = static_cast<UridMap*>(h)->uris;
                     for (size_t i = 0; i < all.size(); ++i)
                       if (all[i] == uri) return (LV2_URID)(i + 1);
                     all.push_back(uri);
                     return (LV2_URID)all.size();
                   }};
  LV2_URID_Unmap unmap{this, [](LV2_URID_Unmap_Handle h, LV2_URID id) -> const char* {
                         auto& all = static_cast<UridMap*>(h)->uris;
                         return id >= 1 && id <= all.size() ? all[id - 1].c_str() : nullptr;
                       }};
};

// Saves a preset of the built LV2 bundle's plug-in with its controls set to
// values, the way LV2 hosts save one (lilv), as dir/preset.ttl beside the
// bundle's manifest.ttl.
void SaveLv2Preset(const std::string& dir, const std::vector<std::pair<const char*, float>>& values)
{
  lv2host::World world(TAVLO_LV2_BUNDLE_PATH);
  const LilvPlugin* plugin = world.Plugin();
  ASSERT_NE(nullptr, plugin);
  lv2host::Instance inst(world, plugin);
  ASSERT_TRUE(inst);
  for (const auto& v : values) inst.Control(v.first) = v.second;
  UridMap urids;
  struct Ports
  {
    lv2host::Instance* inst;
    LV2_URID floatType;
  } ports = {&inst, urids.map.map(urids.map.handle, LV2_ATOM__Float)};
  const LilvGetPortValueFunc value = [](const char* symbol, void* user, uint32_t* size, uint32_t* type) -> const void* {
    Ports* p = static_cast<Ports*>(user);
    *size = sizeof(float);
    *type = p->floatType;
    return &p->inst->Control(symbol);
  };
  LilvState* state = lilv_state_new_from_instance(plugin, inst.Get(), &urids.map, nullptr, nullptr, nullptr, nullptr,
                                                  value, &ports, 0, nullptr);
  ASSERT_NE(nullptr, state);
  lilv_state_set_label(state, "Saved by lilv");
  EXPECT_EQ(0, lilv_state_save(world.Get(), &urids.map, &urids.unmap, state, nullptr, dir.c_str(), "preset.ttl"));
  lilv_state_free(state);
}
#endif

// A VST 3 preset file's chunks in the order given, each (ID, bytes).
std::string VstPresetFile(const char* classId, const std::vector<std::pair<std::string, std::string>>& chunks)
{
  auto le = [](uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += (char)(v >> (8 * i));
    return s;
  };
  std::string body, list;
  for (const auto& c : chunks)
  {
    list += c.first + le(48 + body.size(), 8) + le(c.second.size(), 8);
    body += c.second;
  }
  return "VST3" + le(1, 4) + classId + le(48 + body.size(), 8) + body + "List" + le(chunks.size(), 4) + list;
}

TEST_F(RenderTool, DawPresetsRoundTripThroughTheBundlesAndOthersAreRefused)
{
  MakeInput("in.wav", 48000, 2, 0.5);
  const char* kTavloClass = "F2AEE70D00DE4F4E5175696C54617631";

  // A factory preset changed and saved, nothing rendered: a VST 3 preset
  // file of Tavlo's class holding the state --save-state writes.
  RunResult r = Run({"--preset", "lead-vocal", "--set", "Output=-2dB", "--set", "Mix=70%", "--save-preset",
                     "p.vstpreset", "--save-state", "p.state"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  const std::string preset = Slurp(P("p.vstpreset")), state = Slurp(P("p.state"));
  const std::vector<double> want = {160, -2, 0.002, 0.15, 70, 100, 0, 0, 1};
  const std::vector<double> got = StateValues(state);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(want[i], got[i], 1e-9 * std::max(1.0, std::fabs(want[i]))) << i;
  EXPECT_EQ(VstPresetFile(kTavloClass, {{"Comp", state}}), preset);

  // Read back: the same state, rendered exactly as the state file renders.
  r = Run({"--preset", "p.vstpreset", "--save-state", "back.state", "in.wav", "a.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(state, Slurp(P("back.state")));
  ASSERT_EQ(0, Run({"--load-state", "p.state", "in.wav", "b.wav"}).exitCode);
  EXPECT_TRUE(Slurp(P("a.wav")) == Slurp(P("b.wav")));
  EXPECT_FALSE(Slurp(P("a.wav")) == Slurp(P("in.wav")));

  // As hosts write them: the controller's chunk and their own beside the
  // component's, in any order.
  std::string other = state;
  const double two = 2.0;  // Input
  memcpy(&other[0], &two, sizeof(two));
  std::ofstream(P("host.vstpreset"), std::ios::binary)
    << VstPresetFile(kTavloClass, {{"Info", "<MetaInfo/>"}, {"Cont", state}, {"Comp", other}});
  r = Run({"--preset", "host.vstpreset", "--save-state", "host.state"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(2.0, StateValues(Slurp(P("host.state")))[0]);

  // Another plug-in's preset, a damaged one and a state of another size
  // are refused, and nothing is written.
  struct Bad
  {
    std::string file;
    const char* message;
  };
  const Bad bad[] = {
    {VstPresetFile("0123456789ABCDEF0123456789ABCDEF", {{"Comp", state}}),
     "x.vstpreset is a preset of another plug-in (class 0123456789ABCDEF0123456789ABCDEF), not of Tavlo (class "
     "F2AEE70D00DE4F4E5175696C54617631)"},
    // Class-ID bytes that are no hex digits (a terminal's clear-screen) are
    // shown as hex, never sent to the terminal.
    {VstPresetFile("\x1b[2J\x1b[H0123456789ABCDEF012345678", {{"Comp", state}}),
     "x.vstpreset is a preset of another plug-in (class bytes 1B 5B 32 4A 1B 5B 48 30"},
    {preset.substr(0, preset.size() - 5), "x.vstpreset: the preset file's chunk list is cut short"},
    {"RIFF", "x.vstpreset: not a VST 3 preset file"},
    {VstPresetFile(kTavloClass, {{"Comp", state.substr(0, 40)}}), "x.vstpreset: the state holds 40 bytes"},
  };
  const std::vector<std::string> before = Listing(dir);
  for (const Bad& b : bad)
  {
    SCOPED_TRACE(b.message);
    std::ofstream(P("x.vstpreset"), std::ios::binary) << b.file;
    r = Run({"--preset", "x.vstpreset", "in.wav", "new.wav"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find(b.message)) << r.err;
    unlink(P("x.vstpreset").c_str());
    EXPECT_EQ(before, Listing(dir));
  }

#ifdef TAVLO_LV2_BUNDLE_PATH
  // An LV2 preset saved by lilv from the built LV2 bundle: its values
  // reach the render (as single-precision port values), through its own
  // file or its bundle's manifest, and --set still changes them.
  mkdir(P("lv2").c_str(), 0755);
  SaveLv2Preset(P("lv2"), {{"input", 150}, {"output", -4}, {"attack", 0.002f}, {"release", 0.2f}, {"mix", 60},
                           {"hpf", 120}, {"oversample", 1}, {"sidechain", 1}});
  const std::vector<double> lv2 = {150, -4, (double)0.002f, (double)0.2f, 60, 120, 1, 0, 1};
  for (const char* file : {"lv2/preset.ttl", "lv2/manifest.ttl"})
  {
    SCOPED_TRACE(file);
    r = Run({"-y", "--preset", file, "--save-state", "lv2.state"});
    ASSERT_EQ(0, r.exitCode) << r.err;
    const std::vector<double> v = StateValues(Slurp(P("lv2.state")));
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(lv2[i], v[i], 1e-9 * std::max(1.0, std::fabs(lv2[i]))) << i;
  }
  r = Run({"-y", "--preset", "lv2/preset.ttl", "--set", "Input=10", "--save-state", "lv2.state"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(10.0, StateValues(Slurp(P("lv2.state")))[0]);
  // Switched off by the host when saved: rendered as the host would, said.
  std::string text = Slurp(P("lv2/preset.ttl"));
  const size_t enabled = text.find("\"enabled\" ;\n\t\tpset:value 1.0");
  ASSERT_NE(std::string::npos, enabled) << text;
  std::ofstream(P("off.ttl")) << text.replace(text.find("1.0", enabled), 3, "0.0");
  r = Run({"--preset", "off.ttl", "in.wav", "off.wav"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("off.ttl was saved with the plug-in switched off")) << r.err;
  // Any value above 0 enables, as the plug-in reads its port.
  text = Slurp(P("lv2/preset.ttl"));
  std::ofstream(P("on.ttl")) << text.replace(text.find("1.0", enabled), 3, "0.3");
  r = Run({"-y", "--preset", "on.ttl", "--save-state", "on.state"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("switched off")) << r.err;
  EXPECT_EQ(0, Slurp(P("on.state"))[72]) << "rendered bypassed";
  // Another plug-in's, and the bundle's list of twelve.
  text = Slurp(P("lv2/preset.ttl"));
  std::ofstream(P("other.ttl")) << text.replace(text.find("quillmarshworks.example"), 23, "example.org/another");
  r = Run({"--preset", "other.ttl", "in.wav", "new.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("other.ttl is a preset of another plug-in "
                                          "(https://example.org/another/plugins/tavlo), not of Tavlo"))
    << r.err;
  r = Run({"--preset", TAVLO_LV2_BUNDLE_PATH "/presets.ttl", "in.wav", "new.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("holds 12 presets (Default, Drum Bus Glue,")) << r.err;
  for (const char* f : {"lv2/preset.ttl", "lv2/manifest.ttl"}) unlink(P(f).c_str());
  rmdir(P("lv2").c_str());
#endif
}

// ---- batches, pipes, JSON, the curve ------------------------------------

TEST_F(RenderTool, BatchWithJobsEqualsSingleRendersBitForBit)
{
  MakeInput("a.wav", 48000, 2, 0.6);
  MakeInput("b.wav", 44100, 1, 0.4);
  MakeInput("c.flac", 48000, 2, 0.5, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  // -o makes the folder it is given.
  RunResult r = Run({"-o", "out", "-j", "2", "--set", "Input=150", "a.wav", "b.wav", "c.flac"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  // One summary line per file, each naming its output.
  for (const char* name : {"out/a.wav: 0.60 s at 48000 Hz", "out/b.wav: 0.40 s at 44100 Hz", "out/c.flac: 0.50 s"})
    EXPECT_NE(std::string::npos, r.out.find(name)) << r.out;
  for (const char* name : {"a.wav", "b.wav", "c.flac"})
  {
    SCOPED_TRACE(name);
    const std::string single = std::string("single-") + name;
    ASSERT_EQ(0, Run({"--set", "Input=150", name, single}).exitCode);
    const std::string batch = Slurp(P(std::string("out/") + name));
    EXPECT_FALSE(batch.empty());
    EXPECT_TRUE(batch == Slurp(P(single))) << "the batch render differs from the single one";
    unlink(P(single).c_str());
  }
  // Again: every output exists, so nothing is rendered or replaced.
  const std::string before = Slurp(P("out/a.wav"));
  r = Run({"-o", "out", "-j", "2", "--set", "Input=50", "a.wav", "b.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("out/a.wav already exists; add -y to replace it")) << r.err;
  EXPECT_EQ(before, Slurp(P("out/a.wav")));
  // --format renames; two inputs of the same name would collide.
  r = Run({"-o", "out/", "--format", "flac", "--bits", "16", "a.wav", "b.wav"});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ReadAudio(P("out/a.flac")).format);
  EXPECT_EQ(44100, ReadAudio(P("out/b.flac")).rate);
  r = Run({"-o", "out", "--format", "aiff", "a.wav", "./a.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("two inputs would both be written to out/a.aiff; only the first is")) << r.err;
  EXPECT_EQ(ReadAudio(P("a.wav")).Frames(), ReadAudio(P("out/a.aiff")).Frames());
  for (const char* f : {"out/a.wav", "out/b.wav", "out/c.flac", "out/a.flac", "out/b.flac", "out/a.aiff"})
    unlink(P(f).c_str());
  rmdir(P("out").c_str());
}

TEST_F(RenderTool, PipeRoundTripEqualsTheFileRenderAndSoxReadsItSilently)
{
  MakeInput("in.wav", 48000, 2, 0.5);
  RunResult file = Run({"--set", "Input=120", "in.wav", "file.wav"});
  ASSERT_EQ(0, file.exitCode) << file.err;
  Streams streams;
  streams.stdinFile = P("in.wav");
  const RunResult piped = Run({"--set", "Input=120", "-", "-"}, Stop(), streams);
  ASSERT_EQ(0, piped.exitCode) << piped.err;
  // Standard output redirected to a file gets the whole file.
  EXPECT_TRUE(piped.out == Slurp(P("file.wav"))) << "standard output differs from the file render";
  // Into a pipe the WAV goes as it is rendered: the file render's samples
  // behind a header whose sizes a pipe cannot know, as sox writes them
  // (0x7FFFF000), which sox reads from a pipe without a word.
  int piping = -1;
  const std::string read = Shell(dir, "'" TAVLO_RENDER_PATH "' -q --set Input=120 - - < in.wav | tee streamed.wav | "
                                      "sox -t wav - -n stat 2>&1", &piping);
  EXPECT_EQ(0, piping) << read;
  EXPECT_EQ(std::string::npos, read.find("WARN")) << read;
  const std::string whole = Slurp(P("file.wav")), streamed = Slurp(P("streamed.wav"));
  const size_t at = streamed.find("data") + 8, fileAt = whole.find("data") + 8;
  ASSERT_GT(streamed.size(), at);
  EXPECT_EQ(std::string("\x00\xF0\xFF\x7F", 4), streamed.substr(at - 4, 4));
  EXPECT_TRUE(streamed.substr(at) == whole.substr(fileAt)) << "the streamed samples differ from the file render's";
  // And it starts at once: its header is there while the render goes on.
  const std::string started = Shell(
    dir, "rm -f fifo && mkfifo fifo && ('" TAVLO_RENDER_PATH "' -q --rate 768000 - > fifo & pid=$!; exec 3< fifo; "
         "head -c 4 <&3; kill -0 $pid 2>/dev/null && printf ' running'; cat <&3 > /dev/null; wait $pid; "
         "printf ' %d' $?)");
  EXPECT_EQ("RIFF running 0", started);
  // The summary moved to standard error, out of the audio's way.
  EXPECT_NE(std::string::npos, piped.err.find("standard output: 0.50 s at 48000 Hz")) << piped.err;

  // 32-bit float WAV with the fmt chunk sox expects of a non-PCM format.
  int status = -1;
  const std::string info = Shell(dir, "sox --i file.wav 2>&1 && sox file.wav -n stat 2>&1", &status);
  EXPECT_EQ(0, status) << info;
  EXPECT_EQ(std::string::npos, info.find("WARN")) << info;
  EXPECT_NE(std::string::npos, info.find("32-bit Floating Point PCM")) << info;
}

TEST_F(RenderTool, JsonParsesAndItsNumbersAreTheSummaryLines)
{
  MakeInput("in.wav", 48000, 2, 0.5);
  const std::vector<std::string> common = {"--set", "Input=150", "--set", "Attack=2ms", "--automate",
                                           "Mix=0:100%,0.4:60%", "--bits", "16", "--set", "Output=12dB"};
  std::vector<std::string> args = common;
  args.insert(args.end(), {"in.wav", "text.wav"});
  const RunResult text = Run(args);
  ASSERT_EQ(0, text.exitCode) << text.err;
  args = common;
  args.insert(args.end(), {"--json", "in.wav", "json.wav"});
  const RunResult json = Run(args);
  ASSERT_EQ(0, json.exitCode) << json.err;
  std::ofstream(P("summary.json")) << json.out;
  int status = -1;
  // jq reads it as one object; the summary line printed from its numbers
  // is the text summary (the speed aside, which differs run to run).
  const std::string fromJson = Shell(
    dir,
    "jq -r '\"\\(.file): \\(.duration_s) s at \\(.rate_hz) Hz, in peak \\(.peak_in_dbfs) RMS \\(.rms_in_dbfs), out peak "
    "\\(.peak_out_dbfs) RMS \\(.rms_out_dbfs), gr \\(.gain_reduction_max_db) \\(.gain_reduction_avg_db), clipped "
    "\\(.clipped_samples) nonfinite \\(.non_finite_samples) Attack \\(.parameters.Attack.value) "
    "\\(.parameters.Attack.unit) Mix \\(.parameters.Mix.text) \\(.parameters.Mix.automated)\"' summary.json",
    &status);
  ASSERT_EQ(0, status) << json.out;
  char name[64];
  double dur, rate, pin, rin, pout, rout, grMax, grAvg, attack;
  long clipped, nonFinite;
  char unit[8], mix[16], automated[8];
  ASSERT_EQ(15, sscanf(fromJson.c_str(),
                       "%63[^:]: %lf s at %lf Hz, in peak %lf RMS %lf, out peak %lf RMS %lf, gr %lf %lf, clipped %ld "
                       "nonfinite %ld Attack %lf %7s Mix %15s %*s %7s",
                       name, &dur, &rate, &pin, &rin, &pout, &rout, &grMax, &grAvg, &clipped, &nonFinite, &attack,
                       unit, mix, automated))
    << fromJson;
  char line[512];
  snprintf(line, sizeof(line),
           "%.2f s at %.0f Hz, in peak %.1f dBFS RMS %.1f dBFS, out peak %.1f dBFS RMS %.1f dBFS, gain reduction "
           "max %.1f dB avg %.1f dB, %ld samples clipped, ",
           dur, rate, pin, rin, pout, rout, grMax, grAvg, clipped);
  EXPECT_EQ("json.wav", std::string(name));
  EXPECT_NE(std::string::npos, text.out.find(std::string("text.wav: ") + line)) << line << "\n" << text.out;
  EXPECT_GT(clipped, 0);  // +12 dB into 16 bits
  EXPECT_EQ(0, nonFinite);
  EXPECT_EQ(2.0, attack);
  EXPECT_EQ("ms", std::string(unit));
  EXPECT_EQ("60", std::string(mix));  // the value at the end, "60 %"
  EXPECT_EQ("true", std::string(automated));
  EXPECT_NE(std::string::npos, json.err.find("samples clipped at full scale by 16-bit output")) << json.err;
  // Plain decimals only: "48000", never "4.8e+04".
  for (size_t e = json.out.find_first_of("eE"); e != std::string::npos; e = json.out.find_first_of("eE", e + 1))
    EXPECT_FALSE(e > 0 && isdigit((unsigned char)json.out[e - 1]) &&
                 (json.out[e + 1] == '+' || json.out[e + 1] == '-' || isdigit((unsigned char)json.out[e + 1])))
      << json.out.substr(e > 10 ? e - 10 : 0, 20);
  // -q: the warnings and nothing else; with --json the JSON too.
  for (const char* asJson : {"", "--json"})
  {
    SCOPED_TRACE(asJson);
    args = common;
    args.insert(args.end(), {"-q", "-y", "in.wav", "quiet.wav"});
    if (*asJson) args.push_back(asJson);
    const RunResult quiet = Run(args);
    ASSERT_EQ(0, quiet.exitCode) << quiet.err;
    EXPECT_EQ(*asJson ? 1 : 0, std::count(quiet.out.begin(), quiet.out.end(), '\n')) << quiet.out;
    const std::string start = *asJson ? "{\"file\":\"quiet.wav\"" : "";
    EXPECT_EQ(start, quiet.out.substr(0, start.size()));
    EXPECT_EQ(1, std::count(quiet.err.begin(), quiet.err.end(), '\n')) << quiet.err;
    EXPECT_NE(std::string::npos, quiet.err.find("samples clipped at full scale by 16-bit output")) << quiet.err;
  }

  // File names are bytes: one that is not UTF-8 still makes a document
  // every parser takes, the stray bytes as U+FFFD and the rest kept.
  const std::string latin1 = "caf\xe9.wav", odd = "out-\xff\xc3\xa9-\xe2\x82.wav";
  std::ofstream(P(latin1), std::ios::binary) << Slurp(P("in.wav"));
  const RunResult named = Run({"--json", latin1, odd});
  ASSERT_EQ(0, named.exitCode) << named.err;
  std::ofstream(P("named.json"), std::ios::binary) << named.out;
  const std::string names =
    Shell(dir, "iconv -f UTF-8 -t UTF-8 named.json >/dev/null && jq -r '.file, .input' named.json", &status);
  EXPECT_EQ(0, status) << named.out;
  EXPECT_EQ("out-\xef\xbf\xbd\xc3\xa9-\xef\xbf\xbd\xef\xbf\xbd.wav\ncaf\xef\xbf\xbd.wav\n", names);
  unlink(P(latin1).c_str());
  unlink(P(odd).c_str());
}

TEST_F(RenderTool, CurveIsUnityBelowTheKneeAndFoldsBackAtInput400)
{
  const RunResult r = Run({"--json", "--curve", "curve.png"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  std::ofstream(P("curve.json")) << r.out;
  // Per line: the Input setting, the knee, and the output at every input level.
  int status = -1;
  const std::string table =
    Shell(dir, "jq -r '.lines[] | \"\\(.input) \\(.knee_dbfs) \\(.out_dbfs | map(tostring) | join(\" \"))\"' curve.json",
          &status);
  ASSERT_EQ(0, status) << r.out;
  std::map<int, std::vector<double>> out;
  std::map<int, double> knee;
  std::istringstream rows(table);
  for (std::string row; std::getline(rows, row);)
  {
    std::istringstream fields(row);
    int input;
    std::string k;
    fields >> input >> k;
    knee[input] = k == "null" ? NAN : atof(k.c_str());
    for (double v; fields >> v;) out[input].push_back(v);
  }
  ASSERT_EQ(5u, out.size());
  for (auto& line : out)
  {
    SCOPED_TRACE("Input " + std::to_string(line.first));
    ASSERT_EQ(61u, line.second.size());  // -60 to 0 dBFS in 1 dB steps
    // Unity (within 0.5 dB) for the quietest 15 dB, under every setting.
    for (int k = 0; k <= 15; ++k) EXPECT_NEAR(-60.0 + k, line.second[k], 0.5) << (-60 + k) << " dBFS";
  }
  // Input 0 never compresses; the knee moves down as Input rises.
  for (int k = 0; k <= 60; ++k) EXPECT_NEAR(-60.0 + k, out[0][k], 1.0);
  EXPECT_TRUE(std::isnan(knee[0]));
  EXPECT_GT(knee[50], -12.0);
  EXPECT_LT(knee[100], knee[50]);
  EXPECT_LT(knee[200], knee[100]);
  EXPECT_LT(knee[400], knee[200]);
  // Fold-back at 400: a peak, then louder input comes out far quieter.
  const auto top = std::max_element(out[400].begin(), out[400].end());
  EXPECT_LT(top - out[400].begin(), 50);        // peaks well below full scale
  EXPECT_LT(out[400].back(), *top - 20.0);     // 0 dBFS in: at least 20 dB under the peak
  EXPECT_LT(out[400][60], out[400][50]);
  const Image png = LoadPng(P("curve.png"));
  EXPECT_EQ(1000, png.w);
  EXPECT_EQ(960, png.h);
}

// ---- files that are never destroyed -------------------------------------

TEST_F(RenderTool, NoOutputReplacesAFileUnasked)
{
  MakeInput("take.wav", 48000, 2, 0.3);
  const std::string take = Slurp(P("take.wav"));
  // OUTPUT forgotten: the take would become a render of the embedded loop.
  RunResult r = Run({"--set", "Input=100", "take.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("take.wav already exists; add -y to replace it (to render it, name an OUTPUT"))
    << r.err;
  EXPECT_EQ(take, Slurp(P("take.wav")));
  // Swapped after an earlier render: the take is still refused.
  ASSERT_EQ(0, Run({"take.wav", "done.wav"}).exitCode);
  r = Run({"done.wav", "take.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(take, Slurp(P("take.wav")));
  // Existing side products are refused too, before anything is rendered.
  std::ofstream(P("old.png")) << "keep me";
  r = Run({"--plot", "old.png", "take.wav", "new.wav"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("keep me", Slurp(P("old.png")));
  EXPECT_EQ(-1, access(P("new.wav").c_str(), F_OK));

  // -y replaces; a symbolic link is written through and stays a link.
  std::ofstream(P("target.wav")) << "old";
  ASSERT_EQ(0, symlink("target.wav", P("link.wav").c_str()));
  r = Run({"-y", "--set", "Bypass=on", "take.wav", "link.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  struct stat st;
  ASSERT_EQ(0, lstat(P("link.wav").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadAudio(P("take.wav")).samples, ReadAudio(P("target.wav")).samples);
  // A link to nothing yet: the file appears where it points.
  ASSERT_EQ(0, symlink("made.wav", P("dangling.wav").c_str()));
  ASSERT_EQ(0, Run({"take.wav", "dangling.wav"}).exitCode);
  EXPECT_EQ(0, lstat(P("dangling.wav").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(0, stat(P("made.wav").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));

  // A FIFO is written directly: its reader gets the whole file.
  ASSERT_EQ(0, mkfifo(P("fifo").c_str(), 0644));
  std::string fromFifo;
  std::thread reader([&]() { fromFifo = Slurp(P("fifo")); });
  r = Run({"--set", "Bypass=on", "take.wav", "fifo"});
  reader.join();
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(0, stat(P("fifo").c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_TRUE(fromFifo == Slurp(P("target.wav"))) << fromFifo.size() << " bytes from the FIFO";

  // Standard output closed early (SIGPIPE): an error, and of the render's
  // outputs none is left, no temporary file either.
  const std::vector<std::string> before = Listing(dir);
  Streams closed;
  closed.stdoutClosedPipe = true;
  r = Run({"--plot", "p.png", "take.wav", "-"}, Stop(), closed);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("cannot write standard output: Broken pipe")) << r.err;
  EXPECT_EQ(before, Listing(dir));
  for (const char* f : {"link.wav", "target.wav", "dangling.wav", "made.wav", "fifo"}) unlink(P(f).c_str());
}

// ---- inputs: standard input, files cut off, batches that go on --------

// Where a WAV's data chunk starts (its size field is 4 bytes before), or 0.
size_t WavDataStart(const std::string& wav)
{
  for (size_t at = 12; at + 8 <= wav.size();)
  {
    const uint32_t size = (uint8_t)wav[at + 4] | (uint8_t)wav[at + 5] << 8 | (uint8_t)wav[at + 6] << 16 |
                          (uint32_t)(uint8_t)wav[at + 7] << 24;
    if (wav.compare(at, 4, "data") == 0) return at + 8;
    at += 8 + size + (size & 1);
  }
  return 0;
}

std::string WithDataSize(std::string wav, uint32_t size)
{
  const size_t at = WavDataStart(wav) - 4;
  for (int i = 0; i < 4; ++i) wav[at + i] = (char)(size >> (8 * i));
  return wav;
}

TEST_F(RenderTool, StandardInputIsCheckedLimitedAndReadAsItArrives)
{
  // Neither WAV, AIFF nor FLAC: refused at once, not held until the disk is full.
  Streams zero;
  zero.stdinFile = "/dev/zero";
  const std::vector<std::string> before = Listing(dir);
  RunResult r = Run({"-", "out.wav"}, Stop(), zero);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("standard input is not WAV, AIFF or FLAC audio")) << r.err;
  EXPECT_EQ(before, Listing(dir));

  // FLAC (read from a file only) that never ends: held up to the limit, then refused.
  std::ofstream(P("endless.flac")) << "fLaC";
  Streams endless;
  endless.stdinFile = P("endless.flac");
  endless.stdinPipe = endless.stdinEndless = true;
  endless.tmpdir = dir;
  r = Run({"-", "out.wav"}, Stop(), endless);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("standard input holds more than 1 GiB of AIFF or FLAC")) << r.err;
  unlink(P("endless.flac").c_str());
  EXPECT_EQ(before, Listing(dir));

  // WAV through a pipe, with nowhere to hold it: read as it arrives, and
  // rendered exactly as the file is. AIFF and FLAC are held, then rendered.
  struct Case
  {
    const char* name;
    int rate, channels, format;
    bool held;
  };
  const Case cases[] = {
    {"f32.wav", 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, false},
    {"d64.wav", 48000, 2, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, false},
    {"i16.wav", 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, false},
    {"i24.wav", 96000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, false},
    {"i32.wav", 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_32, false},
    {"u8.wav", 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, false},
    {"in.aiff", 48000, 2, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, true},
    {"in.flac", 44100, 2, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.name);
    MakeInput(c.name, c.rate, c.channels, 0.4, c.format);
    ASSERT_EQ(0, Run({"--set", "Input=120", c.name, "file.wav"}).exitCode);
    Streams piped;
    piped.stdinFile = P(c.name);
    piped.stdinPipe = true;
    piped.tmpdir = c.held ? dir : "/nonexistent";
    r = Run({"--set", "Input=120", "-", "piped.wav"}, Stop(), piped);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_TRUE(Slurp(P("file.wav")) == Slurp(P("piped.wav"))) << "the piped render differs from the file's";
    for (const char* f : {"file.wav", "piped.wav"}) unlink(P(f).c_str());
    unlink(P(c.name).c_str());
  }

  // A WAV whose header leaves the length open (0, 0xFFFFFFFF, or what sox
  // writes into a pipe): every frame, no warning, and WAV that sox reads.
  MakeInput("in.wav", 48000, 2, 0.4);
  ASSERT_EQ(0, Run({"--set", "Input=120", "in.wav", "file.wav"}).exitCode);
  for (uint32_t size : {0u, 0xFFFFFFFFu, 0x7FFFF000u})
  {
    SCOPED_TRACE(size);
    std::ofstream(P("open.wav"), std::ios::binary) << WithDataSize(Slurp(P("in.wav")), size);
    Streams piped;
    piped.stdinFile = P("open.wav");
    piped.stdinPipe = true;
    r = Run({"--set", "Input=120", "-", "piped.wav"}, Stop(), piped);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("warning")) << r.err;
    EXPECT_EQ(ReadAudio(P("file.wav")).samples, ReadAudio(P("piped.wav")).samples);
    int status = -1;
    const std::string sox = Shell(dir, "sox piped.wav -n 2>&1", &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ("", sox);
    unlink(P("piped.wav").c_str());
  }
}

TEST_F(RenderTool, ACutOffWavIsRenderedWithTheFramesFoundAndDeclared)
{
  const Audio in = MakeInput("in.wav", 48000, 2, 0.5);
  const std::string whole = Slurp(P("in.wav"));
  // 10000 whole frames and half of the next.
  std::ofstream(P("cut.wav"), std::ios::binary) << whole.substr(0, WavDataStart(whole) + 10000 * 8 + 4);
  for (bool pipe : {false, true})
  {
    SCOPED_TRACE(pipe ? "through a pipe" : "a file");
    Streams streams;
    streams.stdinFile = P("cut.wav");
    streams.stdinPipe = pipe;
    const RunResult r = Run({"-y", "--set", "Bypass=on", pipe ? "-" : "cut.wav", "out.wav"}, Stop(), streams);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(std::string("warning: ") + (pipe ? "standard input" : "cut.wav") +
                                            ": the audio ends after 10000 of the 24000 frames its header declares"))
      << r.err;
    const Audio out = ReadAudio(P("out.wav"));
    ASSERT_EQ(10000, out.Frames());
    EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), in.samples.begin()));
  }
}

TEST_F(RenderTool, ABatchRendersEveryFileItCanAndNamesEachFailure)
{
  MakeInput("a.wav", 48000, 2, 0.3);
  MakeInput("b.flac", 44100, 1, 0.3, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  std::ofstream(P("garbage.wav")) << "not audio at all";
  std::ofstream(P("notes.txt")) << "a text";
  mkdir(P("out").c_str(), 0755);
  std::ofstream(P("out/kept.wav")) << "rendered yesterday";
  MakeInput("kept.wav", 48000, 2, 0.3);
  const RunResult r =
    Run({"-o", "out", "-j", "2", "a.wav", "garbage.wav", "missing.wav", "notes.txt", "kept.wav", "b.flac"});
  EXPECT_EQ(1, r.exitCode);
  for (const char* line : {"tavlo-render: garbage.wav: cannot read garbage.wav as audio",
                           "tavlo-render: missing.wav: cannot open missing.wav",
                           "tavlo-render: notes.txt: cannot tell the format of out/notes.txt",
                           "tavlo-render: kept.wav: out/kept.wav already exists; add -y to replace it",
                           "tavlo-render: 4 of 6 files failed"})
    EXPECT_NE(std::string::npos, r.err.find(line)) << line << "\n" << r.err;
  EXPECT_NE(std::string::npos, r.out.find("out/a.wav: 0.30 s at 48000 Hz")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("out/b.flac: 0.30 s at 44100 Hz")) << r.out;
  EXPECT_EQ(14400, ReadAudio(P("out/a.wav")).Frames());
  EXPECT_EQ(13230, ReadAudio(P("out/b.flac")).Frames());
  EXPECT_EQ("rendered yesterday", Slurp(P("out/kept.wav")));
  for (const char* f : {"out/a.wav", "out/b.flac", "out/kept.wav"}) unlink(P(f).c_str());
  EXPECT_EQ(0, rmdir(P("out").c_str())) << "more in out/ than the files rendered";

  // Folders -o makes, each level of them, are gone again when nothing was
  // written into them.
  const std::vector<std::string> before = Listing(dir);
  const RunResult none = Run({"-o", "made/deeper", "garbage.wav", "missing.wav"});
  EXPECT_EQ(1, none.exitCode);
  EXPECT_NE(std::string::npos, none.err.find("2 of 2 files failed")) << none.err;
  EXPECT_EQ(before, Listing(dir));
  ASSERT_EQ(0, Run({"-o", "made/deeper", "a.wav"}).exitCode);
  EXPECT_EQ(14400, ReadAudio(P("made/deeper/a.wav")).Frames());
}

TEST_F(RenderTool, OutputsPast4GiBAreSettledBeforeRendering)
{
  // A sparse 16-bit mono WAV of 1.5 billion silent frames at 8 kHz: 3 GB on
  // paper, nothing on disk. Rendered (mono, as it came) it needs more than
  // 4 GiB as 32-bit float or 24-bit PCM.
  const int64_t frames = 1500000000;
  {
    Audio head;
    head.rate = 8000;
    head.channels = 1;
    head.samples.assign(1, 0.0f);
    WriteAudio(P("head.wav"), head, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::string wav = Slurp(P("head.wav"));
    wav = WithDataSize(wav.substr(0, WavDataStart(wav)), (uint32_t)(frames * 2));
    std::ofstream(P("huge.wav"), std::ios::binary) << wav;
    ASSERT_EQ(0, truncate(P("huge.wav").c_str(), (off_t)(wav.size() + frames * 2)));
    unlink(P("head.wav").c_str());
  }
  const std::vector<std::string> before = Listing(dir);
  // AIFF cannot hold it: refused before a frame is rendered.
  RunResult r = Run({"--bits", "24", "huge.wav", "out.aiff"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("out.aiff: an AIFF file holds less than 4 GiB of samples and this render "
                                          "makes " + std::to_string(frames * 3) + " bytes; write WAV (as RF64) or FLAC"))
    << r.err;
  EXPECT_EQ(before, Listing(dir));
  // WAV becomes RF64, said before rendering and written so from the first
  // byte, by our own float writer and by libsndfile alike. Stopped there.
  for (const char* bits : {"32f", "24"})
  {
    SCOPED_TRACE(bits);
    Stop stop;
    stop.signal = SIGTERM;
    stop.whenExists = ".out.wav.partial-";
    stop.header = "RF64";
    bool stopped = false;
    r = Run({"--bits", bits, "huge.wav", "out.wav"}, stop, Streams(), &stopped);
    EXPECT_TRUE(stopped) << "no RF64 header while rendering: " << r.err;
    EXPECT_EQ(128 + SIGTERM, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("warning: out.wav: more than 4 GiB of audio, so it is written as RF64"))
      << r.err;
    EXPECT_EQ(before, Listing(dir));
  }
  // Through a pipe the header's length is only a claim: a header that
  // declares as much but is followed by one second is written as the WAV
  // that second makes, with no word of 4 GiB (and the cut short said).
  {
    std::ifstream huge(P("huge.wav"), std::ios::binary);
    std::string wav(4096, '\0');
    huge.read(&wav[0], (std::streamsize)wav.size());
    wav.resize(WavDataStart(wav));
    wav += std::string(8000 * 2, '\0');
    std::ofstream(P("claims.wav"), std::ios::binary) << wav;
    Streams piped;
    piped.stdinFile = P("claims.wav");
    piped.stdinPipe = true;
    r = Run({"-", "short.wav"}, Stop(), piped);
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("4 GiB")) << r.err;
    EXPECT_EQ("RIFF", Slurp(P("short.wav")).substr(0, 4));
    EXPECT_EQ(8000, ReadAudio(P("short.wav")).Frames());
    unlink(P("claims.wav").c_str());
    unlink(P("short.wav").c_str());
  }
}

// A WAV may declare samples narrower than the bytes that hold them (7
// bits in 8): read as stored, and said, from a file and from a pipe.
TEST_F(RenderTool, SamplesNarrowerThanTheirBytesAreReadAndSaid)
{
  Audio in = MakeInput("in.wav", 48000, 2, 0.2);
  WriteAudio(P("eight.wav"), in, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
  std::string wav = Slurp(P("eight.wav"));
  ASSERT_EQ("fmt ", wav.substr(12, 4));
  ASSERT_EQ(8, wav[34]);
  wav[34] = 7;
  std::ofstream(P("seven.wav"), std::ios::binary) << wav;
  for (bool pipe : {false, true})
  {
    SCOPED_TRACE(pipe ? "piped" : "file");
    Streams streams;
    streams.stdinFile = P("seven.wav");
    streams.stdinPipe = pipe;
    const RunResult r = Run({"-y", pipe ? "-" : "seven.wav", "out.wav"}, Stop(), streams);
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("declares 7-bit samples; read as the 8-bit ones they are stored as"))
      << r.err;
    EXPECT_EQ(in.Frames(), ReadAudio(P("out.wav")).Frames());
  }
}

TEST_F(RenderTool, NonFiniteInputIsRenderedAsSilenceAndCounted)
{
  Audio in = MakeInput("in.wav", 48000, 2, 0.2);
  in.samples[100] = NAN;
  in.samples[2001] = INFINITY;
  in.samples[5000] = -INFINITY;
  WriteAudio(P("bad.wav"), in, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const RunResult r = Run({"--set", "Bypass=on", "bad.wav", "out.wav"});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("warning: bad.wav: 3 non-finite input samples (NaN or infinity), "
                                          "rendered as silence"))
    << r.err;
  EXPECT_NE(std::string::npos, r.out.find("3 non-finite input samples")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("-inf")) << r.out;
  const Audio out = ReadAudio(P("out.wav"));
  ASSERT_EQ(in.samples.size(), out.samples.size());
  for (size_t i = 0; i < in.samples.size(); ++i)
    ASSERT_EQ(std::isfinite(in.samples[i]) ? in.samples[i] : 0.0f, out.samples[i]) << i;
}

// ---- memory -----------------------------------------------------------

TEST_F(RenderTool, TenMinutesRenderInTheMemoryOfTenSeconds)
{
  // 8 kHz mono 16-bit keeps the files small; the renderer streams either way.
  MakeInput("short.wav", 8000, 1, 10.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  MakeInput("long.wav", 8000, 1, 600.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const RunResult small = Run({"--set", "Input=100", "--plot", "s.png", "short.wav", "s.wav"});
  ASSERT_EQ(0, small.exitCode) << small.err;
  const RunResult large = Run({"--set", "Input=100", "--plot", "l.png", "long.wav", "l.wav"});
  ASSERT_EQ(0, large.exitCode) << large.err;
  EXPECT_NE(std::string::npos, large.out.find("600.00 s at 8000 Hz")) << large.out;
  EXPECT_EQ(4800000, ReadAudio(P("l.wav")).Frames());
  // 600 s of stereo float would be 38 MB if held; allow 4 MB of noise.
  EXPECT_LT(large.maxRssKb, small.maxRssKb + 4096)
    << "peak RSS " << small.maxRssKb << " kB for 10 s, " << large.maxRssKb << " kB for 600 s";
  RecordProperty("peak_rss_kb_10s", (int)small.maxRssKb);
  RecordProperty("peak_rss_kb_600s", (int)large.maxRssKb);
}

}  // namespace
