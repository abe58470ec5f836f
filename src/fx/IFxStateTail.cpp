#include "fx/IFxStateTail.h"

#include <cstring>

#include "fx/ByteChunk.h"

namespace {

constexpr uint32_t kPresetTag = 0x74737270;  // "prst"

uint32_t ReadU32(const unsigned char* p)
{
  uint32_t v;
  memcpy(&v, p, sizeof(v));
  return v;
}

}  // namespace

void IFxStateTail::AppendTo(ByteChunk& chunk) const
{
  const uint32_t body = preset >= 0 ? 12u : 0u;
  chunk.AppendBytes(kMagic, 4);
  chunk.Append(kVersion);
  chunk.Append(body);
  if (preset >= 0)
  {
    chunk.Append(kPresetTag);
    chunk.Append((uint32_t)sizeof(int32_t));
    chunk.Append(preset);
  }
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
