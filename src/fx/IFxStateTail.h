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
