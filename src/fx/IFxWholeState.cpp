#include "fx/IFxWholeState.h"

#include <cmath>
#include <cstring>

#include "fx/ByteChunk.h"
#include "fx/IFxBase.h"
#include "fx/IFxStateTail.h"

namespace IFxWholeState {

bool Save(IFxBase& plug, ByteChunk& out)
{
  IFxBase::ParamBatch batch(plug);
  IFxStateTail tail;
  if (!plug.SerializeHostState(&out, &tail)) return false;
  const int32_t bypass = plug.IsBypassed() ? 1 : 0;
  out.Append(bypass);
  if (plug.PresetCount() > 0) tail.preset = plug.GetCurrentPresetIdx();
  tail.AppendTo(out);
  return true;
}

int LeadingSize(IFxBase& plug)
{
  ByteChunk chunk;
  IFxStateTail sizeOnly;
  plug.SerializeHostState(&chunk, &sizeOnly);
  return chunk.Size();
}

int MaxSize(IFxBase& plug)
{
  return LeadingSize(plug) + 4 + IFxStateTail::kHeaderSize + (int)IFxStateTail::kMaxBody;
}

bool Load(IFxBase& plug, const unsigned char* bytes, int64_t got, int32_t* pBypass)
{
  const int size = LeadingSize(plug);
  if (!bytes || size <= 0 || got < size + 4 || got > MaxSize(plug)) return false;
  int32_t bypass = 0;
  memcpy(&bypass, bytes + size, sizeof(bypass));
  if (bypass != 0 && bypass != 1) return false;
  IFxStateTail tail;
  if (got > size + 4 && !tail.ReadFrom(bytes + size + 4, got - size - 4)) return false;
  // Every value a number: stored data that is not one came from elsewhere.
  for (int pos = 0; pos + (int)sizeof(double) <= size; pos += (int)sizeof(double))
  {
    double v;
    memcpy(&v, bytes + pos, sizeof(v));
    if (!std::isfinite(v)) return false;
  }
  ByteChunk chunk;
  chunk.AppendBytes(bytes, size);
  {
    // The audio thread takes all of it at the start of a block, or none.
    IFxBase::ParamBatch batch(plug);
    if (plug.UnserializeHostState(&chunk, tail) < 0) return false;
    // The preset chosen when it was saved; a state from before that was
    // kept names the factory preset its values are, if they are one.
    const int n = plug.PresetCount();
    const int preset = tail.preset >= 0 && tail.preset < n ? tail.preset : plug.PresetMatchingValues();
    if (preset >= 0) plug.SetCurrentPresetIdx(preset);
  }
  if (pBypass) *pBypass = bypass;
  return true;
}

}  // namespace IFxWholeState
