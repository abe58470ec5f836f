#include "fx/IFxStateTail.h"

#include <cmath>
#include <cstring>

#include "fx/ByteChunk.h"

namespace {

constexpr uint32_t kPresetTag = 0x74737270;    // "prst"
constexpr uint32_t kAppendedTag = 0x646e7061;  // "apnd"
constexpr uint32_t kSlotTag = 0x746f6c73;      // "slot"
constexpr uint32_t kOtherSlotTag = 0x7268746f; // "othr"

uint32_t ReadU32(const unsigned char* p)
{
  uint32_t v;
  memcpy(&v, p, sizeof(v));
  return v;
}

// Values, stored as the leading part stores them: little-endian doubles.
void AppendValues(ByteChunk& chunk, uint32_t tag, const std::vector<double>& values)
{
  chunk.Append(tag);
  chunk.Append((uint32_t)(values.size() * sizeof(double)));
  for (double v : values) chunk.Append(v);
}

// Only numbers: stored values that are not come from elsewhere.
bool ReadValues(const unsigned char* data, uint32_t length, std::vector<double>& values)
{
  if (length % sizeof(double) != 0) return false;
  std::vector<double> read(length / sizeof(double));
  if (length) memcpy(read.data(), data, length);
  for (double v : read)
    if (!std::isfinite(v)) return false;
  values.swap(read);
  return true;
}

}  // namespace

void IFxStateTail::AppendTo(ByteChunk& chunk) const
{
  uint32_t body = preset >= 0 ? 12u : 0u;
  if (!appended.empty()) body += 8u + (uint32_t)(appended.size() * sizeof(double));
  if (slot >= 0) body += 12u;
  if (!otherSlot.empty()) body += 8u + (uint32_t)(otherSlot.size() * sizeof(double));
  chunk.AppendBytes(kMagic, 4);
  chunk.Append(kVersion);
  chunk.Append(body);
  if (preset >= 0)
  {
    chunk.Append(kPresetTag);
    chunk.Append((uint32_t)sizeof(int32_t));
    chunk.Append(preset);
  }
  if (!appended.empty()) AppendValues(chunk, kAppendedTag, appended);
  if (slot >= 0)
  {
    chunk.Append(kSlotTag);
    chunk.Append((uint32_t)sizeof(int32_t));
    chunk.Append(slot);
  }
  if (!otherSlot.empty()) AppendValues(chunk, kOtherSlotTag, otherSlot);
}

int64_t IFxStateTail::BodySize(const unsigned char* header)
{
  if (!header || memcmp(header, kMagic, 4) != 0 || ReadU32(header + 4) < 1) return -1;
  const uint32_t body = ReadU32(header + 8);
  return body <= kMaxBody ? (int64_t)body : -1;
}

bool IFxStateTail::ReadFrom(const unsigned char* data, int64_t size)
{
  if (size < kHeaderSize) return false;
  const int64_t body = BodySize(data);
  if (body < 0 || kHeaderSize + body != size) return false;
  IFxStateTail read;
  for (int64_t pos = kHeaderSize; pos + 8 <= size;)
  {
    const uint32_t tag = ReadU32(data + pos), length = ReadU32(data + pos + 4);
    pos += 8;
    if (length > (uint64_t)(size - pos)) break;
    if (tag == kPresetTag && length == sizeof(int32_t))
    {
      int32_t v;
      memcpy(&v, data + pos, sizeof(v));
      read.preset = v >= 0 ? v : -1;
    }
    else if (tag == kSlotTag && length == sizeof(int32_t))
    {
      int32_t v;
      memcpy(&v, data + pos, sizeof(v));
      read.slot = v == 0 || v == 1 ? v : -1;
    }
    else if (tag == kAppendedTag)
    {
      ReadValues(data + pos, length, read.appended);
    }
    else if (tag == kOtherSlotTag)
    {
      ReadValues(data + pos, length, read.otherSlot);
    }
    pos += length;
  }
  *this = read;
  return true;
}

int64_t IFxStateTail::Find(const unsigned char* data, int64_t size)
{
  // The latest place that begins a tail running exactly to the end.
  for (int64_t pos = size - kHeaderSize; data && pos >= 0; --pos)
  {
    const int64_t body = BodySize(data + pos);
    if (body >= 0 && pos + kHeaderSize + body == size) return pos;
  }
  return -1;
}
