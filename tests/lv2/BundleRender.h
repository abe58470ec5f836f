#pragma once

// Renders through both built bundles, Tavlo.vst3 in the project's own VST 3
// host and Tavlo.lv2 in the lilv host, with the same signal, block sizes and
// parameter changes, so that the two can be compared with each other and
// with stored outputs.

#include <cmath>
#include <vector>

#include "HostFixture.h"
#include "Lv2TestHost.h"

namespace bundles {

// The lilv world of the test program, with the built LV2 bundle on its path.
lv2host::World& SharedWorld();

constexpr int kHostBypass = -1;  // Change::param for the host's bypass
constexpr unsigned kBypassTag = 0x62706173;  // 'bpas'
constexpr int kMaxBlock = 8192;
// Host block sizes; the longest is processed in pieces by the LV2 binding.
extern const std::vector<int> kBlocks;

// A parameter value from a frame of a block on, in both forms; each pair is
// exact in single precision and through the normalised mapping. Within a
// block, the VST 3 host sends a point at the offset; the LV2 host splits its
// run there, as LV2 hosts do. Offsets lie within the block; changes of one
// block are listed by offset.
struct Change
{
  int block;
  int param;  // kHostBypass for the host's bypass
  double plain;
  double normalized;
  int offset = 0;
};

// Input channel ch (main left, main right, side-chain left, side-chain
// right) at a frame, for a sample rate.
using Signal = float (*)(int ch, long frame, double rate);

struct RenderCase
{
  const char* name;
  bool sideChain;  // the side-chain connected to its own signal
  std::vector<Change> changes;
  Signal signal = nullptr;  // the test signal at 0.9 when null
  double rate = 48000.0;
  // Block sizes, cycled until `frames` are rendered; kBlocks once when null.
  const std::vector<int>* blocks = nullptr;
  long frames = 0;
  // Blocks at which the side-chain's connection flips: disconnected (the
  // LV2 ports, the VST 3 bus deactivated) and connected again.
  std::vector<int> sideChainFlips = {};
};

// Both channels; a 32-bit render holds floats.
struct Render
{
  std::vector<double> left, right;
  float meter = NAN;  // the LV2 meter port after the last run
};

Render RenderLv2(const RenderCase& c);
Render RenderVst3(const RenderCase& c, bool is64 = false);
#ifdef TAVLO_CLAP_PATH
// Through Tavlo.clap in the project's CLAP host: each change as a value
// event at its frame, in the VST 3 host's plain units. CLAP has no host
// bypass of its own (a CLAP host's bypass is the plug-in's Bypass), so the
// host bypass's changes are not sent: a render is compared with the other
// formats up to the first of them (FirstHostBypassFrame).
Render RenderClap(const RenderCase& c, bool is64 = false);
#endif
// The frame of the case's first change of the host's bypass, or -1.
long FirstHostBypassFrame(const RenderCase& c);

// First frame at which two renders differ in their bits, or -1.
long FirstDifference(const Render& a, const Render& b);
double Rms(const std::vector<double>& x, size_t from, size_t to);
// The first frame of a block of kBlocks.
long BlockStart(int block);

}  // namespace bundles
