#pragma once

#include "fx/ByteChunk.h"
#include "kit/KitString.h"

// One preset slot: a name and the state bytes it restores.
struct IPreset
{
  static const int kNameSize = 256;  // 255 characters and the terminator

  bool mInitialized = false;
  char mName[kNameSize];
  ByteChunk mChunk;

  IPreset() { KitStrCopy(mName, "empty", kNameSize); }
  // Over-long names are cut to fit the slot.
  void SetName(const char* name) { KitStrCopy(mName, name ? name : "", kNameSize); }
};
