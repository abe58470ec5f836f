#pragma once

#include <ctime>

class KitString;

// Diagnostics. Tracing is compiled in but switched off: the trace points
// name their operation and arguments so that a diagnostic build can turn
// them on, and cost nothing otherwise.
void Trace(const char* funcName, int line, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The local time as "YYYYMMDD HH:MM +HHMM" (zone offset with its sign). The
// text lives in a per-thread buffer that the next call on the thread reuses.
const char* CurrentTime();
// The same text for a given moment, written into out (at most capacity
// bytes with the terminator). Returns out.
const char* FormatLocalTime(time_t t, char* out, int capacity);

// "[Mon D HH:MM]" from the compiler's __DATE__ and __TIME__ texts.
void CompileTimestamp(const char* date, const char* time, KitString* out);

// text, a space and the compile time stamp, in a per-thread string that the
// next call on the thread reuses.
const char* AppendTimestamp(const char* date, const char* time, const char* text);

// A coarse interval timer on processor time.
class Timer
{
public:
  Timer();
  // True once more than the given number of seconds of processor time have
  // passed since construction or the last true answer.
  bool Every(double seconds);

private:
  clock_t mLastTime;
};

// Tab, line feed, carriage return and space; not vertical tab or form feed.
bool IsWhitespace(char c);

// Lower-cases src into dest, at most capacity - 1 characters, terminated.
// Returns the characters written.
int ToLower(char* dest, const char* src, int capacity);

// Name of a MIDI status value (status byte >> 4).
const char* StatusMsgStr(int status);

// Hex dump "01 02 03" of as many of the bytes as fit in capacity (three
// characters per byte, the last space becoming the terminator).
void SysExStr(char* dest, int capacity, const unsigned char* data, int size);

// Names for the opcodes of other plug-in APIs; always "" here.
const char* VSTOpcodeStr(int opCode);
const char* AUSelectStr(int select);
const char* AUPropertyStr(int propID);
const char* AUScopeStr(int scope);
