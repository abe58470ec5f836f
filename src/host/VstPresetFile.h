#pragma once

// VST 3 preset files (.vstpreset), as hosts save and load them: a header
// naming the plug-in's class, the chunks' data, and a list of the chunks at
// the end. Only the component state is written; reading finds it wherever
// the list puts it and ignores the other chunks.

#include <cstdint>
#include <string>
#include <vector>

#include "pluginterfaces/base/funknown.h"

namespace vst3host {

// The class ID as the header spells it: its 16 bytes as 32 upper-case
// hexadecimal digits, in memory order.
std::string ClassIdText(const Steinberg::TUID cid);

// A whole .vstpreset file holding one component state (what getState wrote).
std::vector<uint8_t> MakeVstPreset(const Steinberg::TUID cid, const std::vector<uint8_t>& componentState);

// The class ID text and the component state of a .vstpreset file; false with
// the reason when the bytes are no preset file or hold no component state.
bool ReadVstPreset(const std::vector<uint8_t>& file, std::string& classIdText,
                   std::vector<uint8_t>& componentState, std::string& error);

}  // namespace vst3host
