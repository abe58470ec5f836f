#pragma once

// The embedded demo signal: an 8-second drum-and-bass loop (kick, snare,
// hats, a bass line) synthesised at any sample rate, so the compressor has
// something to work on without an input file.

#include <vector>

constexpr double kDrumLoopSeconds = 8.0;
constexpr double kDrumLoopBpm = 180.0;  // 24 beats: six bars in eight seconds

// Interleaved stereo frames, peak normalised to -1 dBFS. Deterministic: the
// same rate always gives the same samples.
std::vector<float> SynthesizeDrumLoop(double sampleRate);
