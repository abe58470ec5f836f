#include "host/VstPresetFile.h"

#include <cstdio>
#include <cstring>

namespace vst3host {

namespace {

// Header: 'VST3', format version, class ID text, offset of the chunk list.
constexpr size_t kClassIdSize = 32;
constexpr size_t kHeaderSize = 4 + 4 + kClassIdSize + 8;
constexpr int32_t kFormatVersion = 1;
// A list entry: chunk ID, offset, size.
constexpr size_t kEntrySize = 4 + 8 + 8;

// The format is little-endian, as the platforms that write it.
void PutLE(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
  for (int i = 0; i < bytes; ++i) out.push_back((uint8_t)(v >> (8 * i)));
}

uint64_t GetLE(const uint8_t* p, int bytes)
{
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

std::string ClassIdText(const Steinberg::TUID cid)
{
  std::string s;
  char hex[3];
  for (int i = 0; i < 16; ++i)
  {
    snprintf(hex, sizeof(hex), "%02X", (unsigned)(uint8_t)cid[i]);
    s += hex;
  }
  return s;
}

std::vector<uint8_t> MakeVstPreset(const Steinberg::TUID cid, const std::vector<uint8_t>& componentState)
{
  std::vector<uint8_t> out;
  out.insert(out.end(), {'V', 'S', 'T', '3'});
  PutLE(out, (uint32_t)kFormatVersion, 4);
  const std::string id = ClassIdText(cid);
  out.insert(out.end(), id.begin(), id.end());
  PutLE(out, kHeaderSize + componentState.size(), 8);  // where the list starts
  out.insert(out.end(), componentState.begin(), componentState.end());
  out.insert(out.end(), {'L', 'i', 's', 't'});
  PutLE(out, 1, 4);
  out.insert(out.end(), {'C', 'o', 'm', 'p'});
  PutLE(out, kHeaderSize, 8);
  PutLE(out, componentState.size(), 8);
  return out;
}

bool ReadVstPreset(const std::vector<uint8_t>& file, std::string& classIdText,
                   std::vector<uint8_t>& componentState, std::string& error)
{
  const uint8_t* p = file.data();
  const uint64_t size = file.size();
  if (size < kHeaderSize || memcmp(p, "VST3", 4) != 0)
  {
    error = "not a VST 3 preset file";
    return false;
  }
  const uint64_t listAt = GetLE(p + 40, 8);
  if (listAt < kHeaderSize || listAt > size || size - listAt < 8 || memcmp(p + listAt, "List", 4) != 0)
  {
    error = "the preset file's chunk list is missing or damaged";
    return false;
  }
  const uint64_t count = GetLE(p + listAt + 4, 4);
  if (count > (size - listAt - 8) / kEntrySize)
  {
    error = "the preset file's chunk list is cut short";
    return false;
  }
  for (uint64_t i = 0; i < count; ++i)
  {
    const uint8_t* e = p + listAt + 8 + i * kEntrySize;
    if (memcmp(e, "Comp", 4) != 0) continue;
    const uint64_t at = GetLE(e + 4, 8), n = GetLE(e + 12, 8);
    if (at > size || n > size - at)
    {
      error = "the preset file's component state lies outside the file";
      return false;
    }
    classIdText.assign((const char*)p + 8, kClassIdSize);
    componentState.assign(p + at, p + at + n);
    return true;
  }
  error = "the preset file holds no component state";
  return false;
}

}  // namespace vst3host
