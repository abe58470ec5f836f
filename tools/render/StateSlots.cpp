#include "StateSlots.h"

#include <cstring>

#include "fx/ByteChunk.h"
#include "fx/IFxStateTail.h"

bool ShowStateSlot(std::vector<uint8_t>& state, int slot, int leadingValues, std::string& error)
{
  const int64_t lead = (int64_t)leadingValues * (int64_t)sizeof(double);
  const int64_t tailAt = IFxStateTail::Find(state.data(), (int64_t)state.size());
  IFxStateTail tail;
  if ((int64_t)state.size() < lead + 4 ||
      (tailAt >= 0 && (tailAt < lead + 4 || !tail.ReadFrom(state.data() + tailAt, (int64_t)state.size() - tailAt))))
  {
    error = "not a state of this plug-in";
    return false;
  }
  // Saved before the slots (or with B never set apart): both are the same.
  if (tailAt < 0 || tail.otherSlot.empty() || (tail.slot < 0 ? 0 : tail.slot) == slot) return true;

  std::vector<double> shown((size_t)leadingValues);
  memcpy(shown.data(), state.data(), (size_t)lead);
  shown.insert(shown.end(), tail.appended.begin(), tail.appended.end());
  std::vector<double> other = tail.otherSlot;
  other.resize(shown.size() > other.size() ? shown.size() : other.size());
  for (size_t i = tail.otherSlot.size(); i < other.size(); ++i) other[i] = shown[i];

  ByteChunk out;
  out.AppendBytes(other.data(), (int)lead);
  out.AppendBytes(state.data() + lead, (int)(tailAt - lead));  // the bypass word
  tail.appended.assign(other.begin() + leadingValues, other.end());
  tail.otherSlot = shown;
  tail.slot = slot;
  tail.AppendTo(out);
  state.assign(out.Data(), out.Data() + out.Size());
  return true;
}
