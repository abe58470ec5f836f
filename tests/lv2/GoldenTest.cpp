// Golden outputs: what the built bundles play for a table of settings at 44.1, 48
// and 96 kHz, through VST 3 at 32 and 64 bits and through LV2, checked
// against hashes of the raw samples kept in golden_outputs.txt. Work that
// restructures or speeds up the code must keep every sample; a change that
// is meant to alter the sound writes the file again in the same commit (see
// the file's head) and says why in its message.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BundleRender.h"

using namespace bundles;

namespace {

// ---- The input: one second of drum-machine-like material, made with
// exact arithmetic only (no libm), so that it is the same sample for sample
// wherever the test is built.

// Noise any frame can be asked for: a hash of the frame (splitmix64), in [-1, 1).
double Noise(long frame, int ch)
{
  uint64_t z = (uint64_t)frame * 4u + (uint64_t)ch + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (double)(z >> 11) / 4503599627370496.0 - 1.0;
}

// A sine-like wave of period 1, from two parabolas.
double Wave(double phase)
{
  const double p = phase - std::floor(phase);
  return p < 0.5 ? 16.0 * p * (0.5 - p) : -16.0 * (p - 0.5) * (1.0 - p);
}

// A kick every quarter second (0.2 s long, its pitch falling from 150 to
// 50 Hz; the phase is that pitch's exact integral), a noise hat between
// kicks, a 330 Hz tone, digital silence from 0.55 to 0.65 s and a burst
// past full scale from 0.8 to 0.85 s; noise and a pumping 120 Hz tone on
// the side-chain.
float GoldenSignal(int ch, long frame, double rate)
{
  const double t = (double)frame / rate;
  const double beat = t - std::floor(t * 4.0) / 4.0;
  double kick = 0.0;
  if (beat < 0.2)
  {
    const double u = 1.0 - beat / 0.2, u2 = u * u;
    kick = 0.9 * u2 * u * Wave(50.0 * beat + 4.0 * (1.0 - u2 * u2 * u));
  }
  const double h = beat - 0.125;
  const double hat = h >= 0.0 && h < 0.03 ? 0.3 * (1.0 - h / 0.03) * (1.0 - h / 0.03) * Noise(frame, 0) : 0.0;
  const double tone = 0.2 * Wave(330.0 * t);
  const bool gap = t >= 0.55 && t < 0.65, burst = t >= 0.8 && t < 0.85;
  double v;
  switch (ch)
  {
    case 0: v = gap ? 0.0 : burst ? 1.5 * Noise(frame, 1) : kick + hat + tone; break;
    case 1: v = gap ? 0.0 : burst ? 1.2 * Noise(frame, 2) : kick - hat + 0.7 * tone; break;
    case 2: v = 0.5 * Noise(frame, 3); break;
    default: v = 0.8 * Wave(120.0 * t) * (1.0 - 4.0 * beat) * (1.0 - 4.0 * beat); break;
  }
  return (float)v;
}

// The same with the main channels swapped from 0.5 s on, so that each side
// is the louder one for a while: Linked is then neither Left nor Right.
float SwappingSignal(int ch, long frame, double rate)
{
  return GoldenSignal(ch < 2 && (double)frame >= 0.5 * rate ? 1 - ch : ch, frame, rate);
}

// Host block sizes, cycled: odd ones, a single frame, and one past the LV2
// binding's piece of 4096.
const std::vector<int> kGoldenBlocks = {512, 37, 1000, 4100, 256, 1, 700};

// A parameter change at a time in seconds (param, plain, normalised as in
// Change; each pair is exact in single precision and through the mapping).
struct TimedChange
{
  double at;
  int param;
  double plain, normalized;
};

struct Setting
{
  std::string id;  // the name in the golden file
  bool sideChain;
  std::vector<TimedChange> changes;
  Signal signal = GoldenSignal;
  const std::vector<int>* blocks = &kGoldenBlocks;
};

enum { kIn = 0, kOut = 1, kMix = 4, kHpf = 5, kOs = 6, kByp = 7, kSc = 8, kDet = 9, kListen = 10 };

const std::vector<Setting>& Settings()
{
  static const std::vector<Setting> settings = {
    {"input-0", false, {{0, kIn, 0, 0.0}}},
    {"input-80", false, {{0, kIn, 80, 0.2}}},
    {"input-200", false, {{0, kIn, 200, 0.5}}},
    {"input-400", false, {{0, kIn, 400, 1.0}}},
    {"oversample", false, {{0, kIn, 120, 0.3}, {0, kOs, 1, 1.0}}},
    {"side-chain", true, {{0, kIn, 150, 0.375}, {0, kSc, 0, 0.0}}},
    {"mix50-hpf200", false, {{0, kIn, 120, 0.3}, {0, kMix, 50, 0.5}, {0, kHpf, 200, 0.375}}},
    // The detector's other sources, of the main input and of the side-chain
    // (Left: its noise; Linked and Mid: the noise with the pumping tone).
    {"detector-left", false, {{0, kIn, 150, 0.375}, {0, kDet, 1, 1.0 / 3.0}}, SwappingSignal},
    {"detector-linked", false, {{0, kIn, 150, 0.375}, {0, kDet, 2, 2.0 / 3.0}}, SwappingSignal},
    {"detector-mid", false, {{0, kIn, 150, 0.375}, {0, kDet, 3, 1.0}}, SwappingSignal},
    {"side-chain-linked", true, {{0, kIn, 150, 0.375}, {0, kSc, 0, 0.0}, {0, kDet, 2, 2.0 / 3.0}}},
    // Listen on and off mid-render (its fades), Linked: each side its own
    // channel through the high-pass; then Mid.
    {"listen",
     false,
     {{0, kIn, 120, 0.3},
      {0, kHpf, 200, 0.375},
      {0, kDet, 2, 2.0 / 3.0},
      {0.3, kListen, 1, 1.0},
      {0.5, kDet, 3, 1.0},
      {0.7, kListen, 0, 0.0}}},
    // Mid-render changes of every kind, both bypasses with their fades.
    {"automation",
     false,
     {{0, kIn, 0, 0.0},
      {0.2, kIn, 200, 0.5},
      {0.35, kOs, 1, 1.0},
      {0.45, kOut, -5, 0.375},
      {0.5, kMix, 50, 0.5},
      {0.6, kByp, 1, 1.0},
      {0.7, kByp, 0, 0.0},
      {0.75, kIn, 100, 0.25},
      {0.8, kHostBypass, 1, 1.0},
      {0.9, kHostBypass, 0, 0.0}}},
  };
  return settings;
}

const double kRates[] = {44100.0, 48000.0, 96000.0};

RenderCase CaseFor(const Setting& s, double rate)
{
  RenderCase c = {s.id.c_str(), s.sideChain, {}, s.signal, rate, s.blocks, (long)rate};
  // Each change from the first block that starts at or after its time.
  for (const TimedChange& tc : s.changes)
  {
    long start = 0;
    int block = 0;
    while (start < (long)std::ceil(tc.at * rate))
      start += (*s.blocks)[(size_t)block++ % s.blocks->size()];
    c.changes.push_back({block, tc.param, tc.plain, tc.normalized});
  }
  return c;
}

// ---- What is kept of a render: hashes of its raw samples, whole and in
// eighths, to tell whether and where it changed, and its levels, to tell by
// how much.

constexpr int kSegments = 8;

struct Summary
{
  long frames = 0;
  uint64_t hash = 0;
  uint64_t segments[kSegments] = {};
  double rmsLeft = 0, rmsRight = 0, peak = 0;
};

// FNV-1a, 64-bit.
uint64_t Fnv(uint64_t h, const void* data, size_t n)
{
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}
constexpr uint64_t kFnvStart = 0xCBF29CE484222325ull;

// The samples as the host received them, interleaved, little-endian.
Summary Summarise(const Render& r, bool is64)
{
  Summary s;
  s.frames = (long)r.left.size();
  s.hash = kFnvStart;
  double sl = 0, sr = 0;
  for (int k = 0; k < kSegments; ++k)
  {
    uint64_t h = kFnvStart;
    for (long i = s.frames * k / kSegments; i < s.frames * (k + 1) / kSegments; ++i)
    {
      for (double v : {r.left[(size_t)i], r.right[(size_t)i]})
      {
        const float f = (float)v;
        const void* bytes = is64 ? (const void*)&v : (const void*)&f;
        const size_t n = is64 ? sizeof v : sizeof f;
        h = Fnv(h, bytes, n);
        s.hash = Fnv(s.hash, bytes, n);
        s.peak = std::max(s.peak, std::fabs(v));
      }
      sl += r.left[(size_t)i] * r.left[(size_t)i];
      sr += r.right[(size_t)i] * r.right[(size_t)i];
    }
    s.segments[k] = h;
  }
  s.rmsLeft = s.frames ? std::sqrt(sl / (double)s.frames) : 0.0;
  s.rmsRight = s.frames ? std::sqrt(sr / (double)s.frames) : 0.0;
  return s;
}

std::string Key(const std::string& id, double rate, const std::string& bits)
{
  return id + " " + std::to_string((long)rate) + " " + bits;
}
std::string Key(const std::string& id, double rate, int bits) { return Key(id, rate, std::to_string(bits)); }

std::string Line(const std::string& key, const Summary& s)
{
  char buf[128];
  std::string line = key + " " + std::to_string(s.frames);
  snprintf(buf, sizeof buf, " %016" PRIx64 " ", s.hash);
  line += buf;
  for (int k = 0; k < kSegments; ++k)
  {
    snprintf(buf, sizeof buf, "%s%016" PRIx64, k ? "," : "", s.segments[k]);
    line += buf;
  }
  snprintf(buf, sizeof buf, " %.17g %.17g %.17g", s.rmsLeft, s.rmsRight, s.peak);
  return line + buf;
}

// The golden file's lines by key; comment lines start with '#'.
std::map<std::string, Summary> Load(const char* path)
{
  std::map<std::string, Summary> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line))
  {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::string id, rate, bits, hash, segments, rmsLeft, rmsRight, peak;
    Summary s;
    // The levels as text: a render of non-finite input has NaN levels.
    ls >> id >> rate >> bits >> s.frames >> hash >> segments >> rmsLeft >> rmsRight >> peak;
    if (!ls) continue;
    s.rmsLeft = std::strtod(rmsLeft.c_str(), nullptr);
    s.rmsRight = std::strtod(rmsRight.c_str(), nullptr);
    s.peak = std::strtod(peak.c_str(), nullptr);
    s.hash = std::strtoull(hash.c_str(), nullptr, 16);
    std::istringstream ss(segments);
    std::string seg;
    for (int k = 0; k < kSegments && std::getline(ss, seg, ','); ++k) s.segments[k] = std::strtoull(seg.c_str(), nullptr, 16);
    out[id + " " + rate + " " + bits] = s;
  }
  return out;
}

double Db(double x) { return x > 0.0 ? 20.0 * std::log10(x) : -INFINITY; }

// Empty when the render is the golden one; otherwise where and by how much
// it differs.
std::string Difference(const Summary& golden, const Summary& got)
{
  if (got.frames == golden.frames && got.hash == golden.hash) return "";
  char buf[512];
  if (got.frames != golden.frames)
  {
    snprintf(buf, sizeof buf, "%ld frames, golden %ld", got.frames, golden.frames);
    return buf;
  }
  int first = 0;
  while (first < kSegments && got.segments[first] == golden.segments[first]) ++first;
  const long from = got.frames * first / kSegments, to = got.frames * (first + 1) / kSegments;
  snprintf(buf, sizeof buf,
           "differs first in eighth %d (frames %ld to %ld); RMS left %.6f dB (golden %.6f, %+.3g dB), "
           "right %.6f dB (golden %.6f, %+.3g dB), peak %.9g (golden %.9g)",
           first + 1, from, to - 1, Db(got.rmsLeft), Db(golden.rmsLeft), Db(got.rmsLeft) - Db(golden.rmsLeft),
           Db(got.rmsRight), Db(golden.rmsRight), Db(got.rmsRight) - Db(golden.rmsRight), got.peak, golden.peak);
  return buf;
}

const char kHead[] =
  "# Golden outputs of Tavlo.vst3 and Tavlo.lv2, checked by tests/lv2/GoldenTest.cpp: one line per\n"
  "# setting, sample rate and sample size (LV2 renders are 32-bit and must equal the VST 3 ones):\n"
  "# frames, the FNV-1a hash of the interleaved raw samples (little-endian float or double), the\n"
  "# hashes of the eight equal parts of the render, RMS left and right, and the peak.\n"
  "#\n"
  "# Never edited by hand. A change meant to alter the sound writes this file again in the same\n"
  "# commit, whose message says why:\n"
  "#   TAVLO_GOLDEN_OUT=tests/lv2/golden_outputs.txt build/tests/lv2/tavlo_lv2_tests \\\n"
  "#     --gtest_filter='GoldenOutputs.*'\n"
  "# That run only writes the file, and fails so that it can never pass for a comparison.\n";

}  // namespace

class GoldenOutputs : public vst3host::HostTest {};

TEST_F(GoldenOutputs, BothBundlesAtThreeRatesPlayWhatWasRecorded)
{
  const char* writeTo = std::getenv("TAVLO_GOLDEN_OUT");
  std::map<std::string, Summary> golden;
  if (!writeTo)
  {
    golden = Load(TAVLO_GOLDEN_FILE);
    ASSERT_FALSE(golden.empty()) << "no golden outputs in " << TAVLO_GOLDEN_FILE;
  }
  std::string written = kHead;
  for (const Setting& setting : Settings())
    for (double rate : kRates)
    {
      const RenderCase c = CaseFor(setting, rate);
      const std::string where = setting.id + " at " + std::to_string((long)rate) + " Hz";
      const Render v32 = RenderVst3(c, false), v64 = RenderVst3(c, true), lv2 = RenderLv2(c);
      ASSERT_EQ((size_t)rate, v32.left.size()) << where;
      // The same 32-bit samples from both formats.
      const long diff = FirstDifference(lv2, v32);
      EXPECT_EQ(-1, diff) << where << ": LV2 and VST 3 differ first at frame " << diff;
#ifdef TAVLO_CLAP_PATH
      // And from the CLAP edition, at both sample sizes, up to a host
      // bypass (which CLAP does not have).
      const long until = FirstHostBypassFrame(c);
      for (const auto& pair : {std::make_pair(RenderClap(c, false), &v32), std::make_pair(RenderClap(c, true), &v64)})
      {
        const long d = FirstDifference(pair.first, *pair.second);
        EXPECT_TRUE(d == -1 || (until >= 0 && d >= until))
          << where << ": CLAP and VST 3 differ first at frame " << d << (pair.second == &v64 ? " (64-bit)" : "");
      }
#endif
      const struct
      {
        const Render& render;
        int bits;
        const char* format;
        bool recorded;  // the line written for its key; LV2 must equal it
      } renders[] = {{v32, 32, "VST 3", true}, {v64, 64, "VST 3", true}, {lv2, 32, "LV2", false}};
      for (const auto& r : renders)
      {
        const std::string key = Key(setting.id, rate, r.bits);
        const Summary s = Summarise(r.render, r.bits == 64);
        if (writeTo)
        {
          if (r.recorded) written += Line(key, s) + "\n";
          continue;
        }
        const auto it = golden.find(key);
        if (it == golden.end())
        {
          ADD_FAILURE() << key << ": no golden output recorded";
          continue;
        }
        const std::string d = Difference(it->second, s);
        EXPECT_TRUE(d.empty()) << where << ", " << r.bits << "-bit, " << r.format << ": " << d;
      }
    }

  // The settings are told apart: no two give the same output.
  if (!writeTo)
  {
    std::set<uint64_t> hashes;
    for (const auto& g : golden) hashes.insert(g.second.hash);
    EXPECT_EQ(golden.size(), hashes.size());
    return;
  }
  std::ofstream out(writeTo);
  out << written;
  out.close();
  FAIL() << "golden outputs written to " << writeTo << (out ? "" : " (FAILED)")
         << "; nothing was compared: run again without TAVLO_GOLDEN_OUT";
}

// ---- Bit identity over a wider field than the golden outputs: Input from 0
// to 400 with and without oversampling, the extremes of every control,
// both switches, the side-chain, dense automation, odd block sizes, and
// input holding NaN, infinities and denormals. The hashes were taken from
// the bundles of the tree before the signal chain was made cheaper; work
// that speeds up the chain must keep them all. LV2 renders are kept on
// their own lines, since controls changed through LV2 ports may take other
// values than through VST 3's normalised ones.

namespace {

// The golden signal with non-finite samples in each input: single NaN and
// infinite frames, runs of them, and finite values so large that the sum of
// the two channels overflows.
float NonFiniteSignal(int ch, long frame, double rate)
{
  auto in = [&](double from, long n) {
    const long f0 = (long)(from * rate);
    return frame >= f0 && frame < f0 + n;
  };
  const float v = GoldenSignal(ch, frame, rate);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  switch (ch)
  {
    case 0:
      if (in(0.10, 1) || in(0.40, 480)) return nan;
      if (in(0.30, 3)) return -inf;
      if (in(0.90, 200)) return 3.0e38f;
      return v;
    case 1:
      if (in(0.20, 1)) return inf;
      if (in(0.40, 480) || in(0.52, 1)) return nan;
      if (in(0.90, 200)) return 3.0e38f;
      return v;
    case 2:
      return in(0.65, 5) ? nan : v;
    default:
      if (in(0.60, 1) || in(0.75, 100)) return nan;
      if (in(0.70, 2)) return inf;
      return v;
  }
}

// Denormal input: the golden signal scaled into the denormal range for the
// first half second, then the signal as it is with denormals in its gap.
float DenormalSignal(int ch, long frame, double rate)
{
  const double t = (double)frame / rate;
  const float v = GoldenSignal(ch, frame, rate);
  if (t < 0.5) return v * 1.0e-39f;
  if (v == 0.0f) return (frame & 1) ? 3.0e-42f : -7.0e-41f;
  return v;
}

const std::vector<int> kOddBlocks = {3, 127, 4099, 2, 509, 1, 64, 4096, 33};

enum { kAtk = 2, kRel = 3 };

const std::vector<Setting>& IdentitySettings()
{
  static const std::vector<Setting> settings = [] {
    std::vector<Setting> v;
    for (int input : {0, 1, 5, 15, 30, 45, 60, 80, 100, 130, 160, 200, 250, 300, 350, 400})
      for (int os : {0, 1})
        v.push_back({"input-" + std::to_string(input) + (os ? "-os" : ""), false,
                     {{0, kIn, (double)input, input / 400.0}, {0, kOs, (double)os, (double)os}}});
    // Attack and release at their ends, normalised 0 and 1.
    v.push_back({"fastest", false, {{0, kIn, 200, 0.5}, {0, kAtk, 0.0001, 0.0}, {0, kRel, 0.1, 0.0}}});
    v.push_back({"slowest-os", false,
                 {{0, kIn, 300, 0.75}, {0, kAtk, 0.01, 1.0}, {0, kRel, 0.5, 1.0}, {0, kOs, 1, 1.0}}});
    v.push_back({"mix-output-hpf", false,
                 {{0, kIn, 250, 0.625}, {0, kMix, 25, 0.25}, {0, kOut, 10, 0.75}, {0, kHpf, 500, 1.0}}});
    v.push_back({"output-min-os", false, {{0, kIn, 100, 0.25}, {0, kOut, -20, 0.0}, {0, kOs, 1, 1.0}}});
    v.push_back({"bypass-on", false, {{0, kIn, 200, 0.5}, {0, kByp, 1, 1.0}}});
    v.push_back({"key-external", true, {{0, kIn, 150, 0.375}, {0, kSc, 0, 0.0}, {0, kOs, 1, 1.0}}});
    v.push_back({"key-unconnected", false, {{0, kIn, 150, 0.375}, {0, kSc, 0, 0.0}}});
    // Every control moved every 50 ms, the switches among them.
    const std::vector<TimedChange> dense = {
      {0, kIn, 40, 0.1},       {0.05, kIn, 300, 0.75},  {0.1, kAtk, 0.0001, 0.0}, {0.15, kRel, 0.1, 0.0},
      {0.2, kOs, 1, 1.0},      {0.25, kIn, 120, 0.3},   {0.3, kMix, 75, 0.75},    {0.35, kHpf, 260, 0.5},
      {0.4, kOs, 0, 0.0},      {0.45, kSc, 0, 0.0},     {0.5, kIn, 400, 1.0},     {0.55, kSc, 1, 1.0},
      {0.6, kByp, 1, 1.0},     {0.62, kIn, 0, 0.0},     {0.65, kByp, 0, 0.0},     {0.7, kIn, 200, 0.5},
      {0.72, kOs, 1, 1.0},     {0.75, kHostBypass, 1, 1.0}, {0.8, kHostBypass, 0, 0.0},
      {0.85, kOut, 20, 1.0},   {0.9, kAtk, 0.01, 1.0},  {0.95, kRel, 0.5, 1.0}};
    v.push_back({"automation-dense", true, dense});
    v.push_back({"automation-odd-blocks", true, dense, GoldenSignal, &kOddBlocks});
    v.push_back({"non-finite", true, {{0, kIn, 120, 0.3}}, NonFiniteSignal});
    v.push_back({"non-finite-os", true, {{0, kIn, 120, 0.3}, {0, kOs, 1, 1.0}}, NonFiniteSignal});
    v.push_back({"non-finite-key", true, {{0, kIn, 120, 0.3}, {0, kSc, 0, 0.0}}, NonFiniteSignal, &kOddBlocks});
    v.push_back({"non-finite-dense", true, dense, NonFiniteSignal, &kOddBlocks});
    v.push_back({"denormal", true, {{0, kIn, 400, 1.0}}, DenormalSignal});
    v.push_back({"denormal-os", true, {{0, kIn, 400, 1.0}, {0, kOs, 1, 1.0}}, DenormalSignal, &kOddBlocks});
    return v;
  }();
  return settings;
}

const char kIdentityHead[] =
  "# Bit identity of Tavlo.vst3 and Tavlo.lv2, checked by tests/lv2/GoldenTest.cpp, in the golden\n"
  "# file's format, with LV2 renders on lines of their own. Taken from the bundles of the tree before\n"
  "# the signal chain was made cheaper, and never edited by hand; written (by a run that then fails) with\n"
  "#   TAVLO_IDENTITY_OUT=tests/lv2/identity_outputs.txt build/tests/lv2/tavlo_lv2_tests \\\n"
  "#     --gtest_filter='GoldenOutputs.WideField*'\n";

}  // namespace

TEST_F(GoldenOutputs, WideFieldPlaysBitForBitWhatTheEarlierChainPlayed)
{
  const char* writeTo = std::getenv("TAVLO_IDENTITY_OUT");
  std::map<std::string, Summary> stored;
  if (!writeTo)
  {
    stored = Load(TAVLO_IDENTITY_FILE);
    ASSERT_FALSE(stored.empty()) << "no outputs in " << TAVLO_IDENTITY_FILE;
  }
  std::string written = kIdentityHead;
  size_t compared = 0;
  for (const Setting& setting : IdentitySettings())
    for (double rate : {48000.0, 44100.0, 96000.0})
    {
      // The wide field at 48 kHz; the automation and non-finite input at every rate.
      if (rate != 48000.0 && setting.id.find("dense") == std::string::npos) continue;
      const RenderCase c = CaseFor(setting, rate);
      const std::string where = setting.id + " at " + std::to_string((long)rate) + " Hz";
      const Render v32 = RenderVst3(c, false), v64 = RenderVst3(c, true), lv2 = RenderLv2(c);
      ASSERT_EQ((size_t)rate, v32.left.size()) << where;
      const struct
      {
        const Render& render;
        const char* kind;
        bool is64;
      } renders[] = {{v32, "32", false}, {v64, "64", true}, {lv2, "lv2", false}};
      for (const auto& r : renders)
      {
        const std::string key = Key(setting.id, rate, r.kind);
        const Summary s = Summarise(r.render, r.is64);
        if (writeTo)
        {
          written += Line(key, s) + "\n";
          continue;
        }
        const auto it = stored.find(key);
        if (it == stored.end())
        {
          ADD_FAILURE() << key << ": no output recorded";
          continue;
        }
        ++compared;
        const std::string d = Difference(it->second, s);
        EXPECT_TRUE(d.empty()) << where << ", " << r.kind << ": " << d;
      }
    }
  if (!writeTo)
  {
    EXPECT_EQ(stored.size(), compared) << "outputs recorded for settings no longer rendered";
    return;
  }
  std::ofstream out(writeTo);
  out << written;
  out.close();
  FAIL() << "outputs written to " << writeTo << (out ? "" : " (FAILED)")
         << "; nothing was compared: run again without TAVLO_IDENTITY_OUT";
}
