#pragma once

// The A/B slots of a saved state, as the plug-in stores them: the leading
// values and the tail's appended values are the shown slot, the tail's
// "othr" entry the other one.

#include <cstdint>
#include <string>
#include <vector>

// Rewrites state so that it shows slot (0 A, 1 B), as the plug-in's own
// slot switch would have saved it; leadingValues is the count of doubles
// before the bypass word. A state without slots holds one setting in both.
// False, with error set and state unchanged, when it is not such a state.
bool ShowStateSlot(std::vector<uint8_t>& state, int slot, int leadingValues, std::string& error);
