#pragma once

// What the VST 3 binding's own files (IFxVST3*.cpp) share; not for use
// outside src/vst3/.

#include "fx/IParamUnit.h"
#include "pluginterfaces/vst/vsttypes.h"

namespace vst3shared
{

// The words of the host's bypass, read and shown like a switch's.
inline const IParamUnit kHostBypassUnit = {"", 1.0, 0, "Off", "On", "", false};

// The host's switches read as the SDK maps a normalised value onto a
// parameter of one step: min(1, floor(2 x)), so 0.5 is already on.
inline bool SwitchIsOn(double normalized) { return normalized >= 0.5; }

inline int BitCount(Steinberg::Vst::SpeakerArrangement arr)
{
  int n = 0;
  for (; arr; arr &= arr - 1) ++n;
  return n;
}

}  // namespace vst3shared
