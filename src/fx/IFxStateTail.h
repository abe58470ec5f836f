#pragma once

// What a saved state holds beyond the parameter values, appended after the
// bytes every earlier release wrote, so that an old state still loads (it
// has no tail) and a state written now still loads in an earlier release
// (which reads its own bytes and never looks further).
//
// Layout: the magic "TvlT", a uint32 version, a uint32 count of the bytes
// that follow, then entries filling them, each a uint32 tag, a uint32 byte
// count and that many bytes. Readers take exactly the tail (a stream may go
// on after it) and skip entries they do not know, so a later release adds
// entries, and raises the version only for a change that older readers must
// not misread. All numbers little-endian, as the rest of the state.

#include <cstdint>
#include <vector>

class ByteChunk;

struct IFxStateTail
{
  static constexpr uint32_t kVersion = 1;
  static constexpr char kMagic[4] = {'T', 'v', 'l', 'T'};
  static constexpr int kHeaderSize = 12;
  // No tail this release reads is larger.
  static constexpr uint32_t kMaxBody = 1u << 16;

  // The factory preset chosen last (program number), -1 when none is
  // known: a state from before the tail, or a tail without the entry.
  int32_t preset = -1;
  // The values of the parameters added after the first release, in index
  // order from the first of them (their place in the state's leading part
  // is taken by what earlier releases read); empty when the state has none.
  std::vector<double> appended;
  // The A/B comparison: the slot shown (0 = A, 1 = B; -1 when not stored)
  // and every parameter's value in the other slot, in index order (empty
  // when not stored).
  int32_t slot = -1;
  std::vector<double> otherSlot;

  // Appends the tail to chunk.
  void AppendTo(ByteChunk& chunk) const;
  // The byte count of the entries after a header, or -1 when the
  // kHeaderSize bytes at header are not a tail's header.
  static int64_t BodySize(const unsigned char* header);
  // Reads a whole tail, header included, from the size bytes at data.
  // False, with nothing changed, when they are not one; entries cut short
  // are not taken.
  bool ReadFrom(const unsigned char* data, int64_t size);
  // Where the tail of a whole state begins (the size of the bytes before
  // it), or -1 when the state ends in none.
  static int64_t Find(const unsigned char* data, int64_t size);
};
