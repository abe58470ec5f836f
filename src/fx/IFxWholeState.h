#pragma once

// An instance's whole state as a host keeps it: the plug-in's own chunk
// (SerializeHostState: the values every release reads), the host bypass
// word (int32, 0 or 1), then the tail (IFxStateTail: the preset, the
// parameters added since, the A/B slots). The same bytes for every binding that hands a host a
// state in one piece (CLAP, the standalone program) as for the VST 3
// component's state.

#include <cstdint>

class ByteChunk;
class IFxBase;

namespace IFxWholeState {

// Appends the state to out, taken whole under a batch (never half of one
// being restored on another thread). False when the plug-in could not
// serialise itself.
bool Save(IFxBase& plug, ByteChunk& out);

// The size of the state's leading part: the plug-in's own chunk, without
// what the tail holds.
int LeadingSize(IFxBase& plug);

// The most bytes a state of plug can have: a reader that gets more has
// something that is not one.
int MaxSize(IFxBase& plug);

// Restores a state from its size bytes, as one batch the audio thread takes
// whole. Only a state of this plug-in is taken: its chunk's size, a bypass
// word of 0 or 1, nothing or exactly a tail after it, every value a
// number. False, with nothing changed, otherwise. The preset it names
// (or, in a state from before the tail, the factory preset its values are)
// becomes the current one. The bypass word is given back, not applied.
bool Load(IFxBase& plug, const unsigned char* bytes, int64_t size, int32_t* bypass = nullptr);

}  // namespace IFxWholeState
