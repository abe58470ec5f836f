#pragma once

// The render loop: audio in blocks through a plug-in session as a DAW
// exporting a track sends it, with the first block's parameter changes,
// automation lanes, the side-chain bus and a process context.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "PluginSession.h"
#include "RenderOptions.h"

struct ParamChange
{
  Steinberg::Vst::ParamID id;
  double plain;
};

struct ParamLane
{
  Steinberg::Vst::ParamID id;
  const ParamAutomation* automation;
};

struct EngineSetup
{
  double rate = 48000.0;
  int block = 512;
  int precision = 32;
  bool sidechain = false;
  std::vector<ParamChange> first;  // sent with the first block
  std::vector<ParamLane> lanes;    // sent whenever the value changes
};

// One processed block, as interleaved stereo.
struct BlockView
{
  const double* in;   // what the plug-in was given (non-finite samples as 0)
  const double* out;  // what it returned (non-finite samples as 0)
  int64_t frames;
  int64_t pos;          // frame index of the block's start
  double expectedGain;  // output over input without gain reduction
};

struct EngineCounts
{
  int64_t frames = 0;
  int64_t nonFiniteIn = 0, nonFiniteOut = 0;
};

// Runs src through a started session. onBlock may stop the render by
// returning false with a message.
bool RunEngine(PluginSession& plug, AudioSource& src, AudioSource* sidechain,
               const EngineSetup& setup, const std::function<bool(const BlockView&, std::string&)>& onBlock,
               EngineCounts& counts, std::string& error);
