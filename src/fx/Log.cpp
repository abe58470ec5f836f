#include "fx/Log.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/KitString.h"

void Trace(const char*, int, const char*, ...) {}

const char* FormatLocalTime(time_t t, char* out, int capacity)
{
  if (!out || capacity <= 0) return out;
  out[0] = 0;
  struct tm local, utc;
  if (!localtime_r(&t, &local) || !gmtime_r(&t, &utc)) return out;
  char buf[64];
  size_t n = strftime(buf, 32, "%Y%m%d %H:%M ", &local);

  int offset = (local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
  int dayDiff = local.tm_yday - utc.tm_yday;
  if (dayDiff >= 2)
    offset -= 1440; // local is a day behind, across a year end
  else if (dayDiff < -1)
    offset += 1440; // local is a day ahead, across a year end
  else
    offset += dayDiff * 1440;

  int a = abs(offset);
  snprintf(buf + n, sizeof(buf) - n, "%c%02d%02d", offset >= 0 ? '+' : '-', a / 60, a % 60);
  KitStrCopy(out, buf, capacity);
  return out;
}

// A per-thread buffer: two threads asking at once each keep their own text.
const char* CurrentTime()
{
  thread_local char buf[64];
  return FormatLocalTime(time(nullptr), buf, (int)sizeof(buf));
}

void CompileTimestamp(const char* date, const char* time, KitString* out)
{
  if (!out) return;
  out->Set("[");
  out->Append(date);
  if (out->GetLength() > 7) out->SetLen(7); // bracket, month, day field
  out->DeleteSub(4, 1);                     // the space after the month
  out->Append(" ");
  out->Append(time);
  if (out->GetLength() > 12) out->SetLen(12); // hours and minutes
  out->Append("]");
}

const char* AppendTimestamp(const char* date, const char* time, const char* text)
{
  thread_local KitString str;
  KitString stamp;
  CompileTimestamp(date, time, &stamp);
  str.Set(text);
  str.Append(" ");
  str.Append(stamp.Get());
  return str.Get();
}

Timer::Timer() : mLastTime(clock()) {}

bool Timer::Every(double seconds)
{
  clock_t now = clock();
  if ((double)(now - mLastTime) > seconds * 1000000.0)
  {
    mLastTime = now;
    return true;
  }
  return false;
}

bool IsWhitespace(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

int ToLower(char* dest, const char* src, int capacity)
{
  if (!dest || capacity <= 0) return 0;
  int n = 0;
  if (src)
    for (; n < capacity - 1 && src[n]; ++n) dest[n] = (char)tolower((unsigned char)src[n]);
  dest[n] = 0;
  return n;
}

const char* StatusMsgStr(int status)
{
  switch (status)
  {
    case 0: return "none";
    case 8: return "noteoff";
    case 9: return "noteon";
    case 10: return "aftertouch";
    case 11: return "controlchange";
    case 12: return "programchange";
    case 13: return "channelaftertouch";
    case 14: return "pitchwheel";
    default: return "unknown";
  }
}

void SysExStr(char* dest, int capacity, const unsigned char* data, int size)
{
  if (!dest || capacity <= 0) return;
  dest[0] = 0;
  if (!data || size <= 0) return;
  int n = size < capacity / 3 ? size : capacity / 3;
  static const char kHex[] = "0123456789ABCDEF";
  // Three characters per byte exactly; no terminator is written past them.
  for (int i = 0; i < n; ++i)
  {
    dest[3 * i] = kHex[data[i] >> 4];
    dest[3 * i + 1] = kHex[data[i] & 15];
    dest[3 * i + 2] = ' ';
  }
  if (n > 0) dest[3 * n - 1] = 0;
}

const char* VSTOpcodeStr(int) { return ""; }
const char* AUSelectStr(int) { return ""; }
const char* AUPropertyStr(int) { return ""; }
const char* AUScopeStr(int) { return ""; }
