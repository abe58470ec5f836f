#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "fx/Log.h"
#include "kit/KitString.h"

TEST(LogTimestamps, CompileTimestampFromCompilerTexts)
{
  KitString s;
  CompileTimestamp("Dec  7 2026", "03:56:12", &s);
  EXPECT_STREQ("[Dec 7 03:56]", s.Get());
  CompileTimestamp("Dec 17 2026", "03:56:12", &s);
  EXPECT_STREQ("[Dec17 03:56]", s.Get());
  // Short or empty inputs stay in bounds.
  CompileTimestamp("", "", &s);
  EXPECT_STREQ("[ ]", s.Get());
  CompileTimestamp("Jan", "1", &s);
  EXPECT_STREQ("[Jan 1]", s.Get());
  CompileTimestamp(nullptr, nullptr, &s);
  EXPECT_STREQ("[ ]", s.Get());
  CompileTimestamp("Dec  7 2026", "03:56:12", nullptr);

  EXPECT_STREQ("Tavlo v3.3.0 [Dec 7 03:56]", AppendTimestamp("Dec  7 2026", "03:56:12", "Tavlo v3.3.0"));
  // Each call overwrites the previous text.
  const char* first = AppendTimestamp("Jan  1 2027", "00:00:00", "a");
  EXPECT_STREQ("a [Jan 1 00:00]", first);
}

namespace
{
// "YYYYMMDD HH:MM +HHMM": digits everywhere except the fixed separators.
bool HasTimeShape(const std::string& t)
{
  const char* pattern = "dddddddd dd:dd sdddd";
  if (t.size() != strlen(pattern)) return false;
  for (size_t i = 0; i < t.size(); ++i)
  {
    char p = pattern[i];
    if (p == 'd' && !(t[i] >= '0' && t[i] <= '9')) return false;
    if (p == 's' && t[i] != '+' && t[i] != '-') return false;
    if (p != 'd' && p != 's' && t[i] != p) return false;
  }
  return true;
}

struct TZGuard
{
  explicit TZGuard(const char* tz)
  {
    const char* old = getenv("TZ");
    hadOld = old != nullptr;
    if (old) oldTZ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TZGuard()
  {
    if (hadOld)
      setenv("TZ", oldTZ.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  bool hadOld;
  std::string oldTZ;
};
} // namespace

TEST(LogTimestamps, CurrentTimeCarriesTheZoneOffset)
{
  const struct
  {
    const char* tz;
    const char* suffix;
  } zones[] = {
    {"UTC0", "+0000"},    {"IST-5:30", "+0530"}, {"EST5", "-0500"},
    {"XYZ-14", "+1400"},  {"ABC12", "-1200"},    {"NPT-5:45", "+0545"},
  };
  for (const auto& z : zones)
  {
    TZGuard guard(z.tz);
    std::string t = CurrentTime();
    EXPECT_TRUE(HasTimeShape(t)) << t;
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ(z.suffix, t.substr(t.size() - 5)) << z.tz;

    // The date and time are the local ones (allowing for a minute boundary).
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char a[32], b[32];
    strftime(a, sizeof(a), "%Y%m%d %H:%M", &local);
    now -= 60;
    localtime_r(&now, &local);
    strftime(b, sizeof(b), "%Y%m%d %H:%M", &local);
    std::string head = t.substr(0, 14);
    EXPECT_TRUE(head == a || head == b) << t;
  }
}

TEST(LogTimestamps, ZoneOffsetAcrossDayAndYearEnds)
{
  const time_t newYearsEve = 1798759800; // 2026-12-31 23:30:00 UTC
  const time_t newYearsDay = 1798763400; // 2027-01-01 00:30:00 UTC
  const time_t midYear = 1783301400;     // 2026-07-06 01:30:00 UTC
  const struct
  {
    const char* tz;
    time_t t;
    const char* text;
  } cases[] = {
    {"XYZ-14", newYearsEve, "20270101 13:30 +1400"}, // local is in the next year
    {"ABC12", newYearsDay, "20261231 12:30 -1200"},  // local is in the previous year
    {"XYZ-14", midYear, "20260706 15:30 +1400"},
    {"ABC12", midYear, "20260705 13:30 -1200"},      // local is the day before
    {"NPT-5:45", newYearsEve, "20270101 05:15 +0545"},
    {"UTC0", newYearsEve, "20261231 23:30 +0000"},
  };
  for (const auto& c : cases)
  {
    TZGuard guard(c.tz);
    char buf[32];
    EXPECT_STREQ(c.text, FormatLocalTime(c.t, buf, sizeof(buf))) << c.tz;
  }
  // Cut to the caller's capacity.
  TZGuard guard("UTC0");
  char small[9];
  EXPECT_STREQ("20261231", FormatLocalTime(newYearsEve, small, sizeof(small)));
}

TEST(LogTimer, EveryReportsOnlyAfterTheInterval)
{
  Timer timer;
  EXPECT_FALSE(timer.Every(0.5));
  // Burn processor time until the clock moves.
  clock_t start = clock();
  volatile double sink = 0;
  while (clock() == start)
    for (int i = 0; i < 1000; ++i) sink = sink + i;
  EXPECT_TRUE(timer.Every(0.0));
  EXPECT_FALSE(timer.Every(1000.0));
}

TEST(LogText, WhitespaceAndLowerCase)
{
  EXPECT_TRUE(IsWhitespace('\t'));
  EXPECT_TRUE(IsWhitespace('\n'));
  EXPECT_TRUE(IsWhitespace('\r'));
  EXPECT_TRUE(IsWhitespace(' '));
  EXPECT_FALSE(IsWhitespace('\v'));
  EXPECT_FALSE(IsWhitespace('\f'));
  EXPECT_FALSE(IsWhitespace('\0'));
  EXPECT_FALSE(IsWhitespace('a'));

  char buf[16];
  EXPECT_EQ(11, ToLower(buf, "PreSonus 1!", sizeof(buf)));
  EXPECT_STREQ("presonus 1!", buf);
  memset(buf, 'Z', sizeof(buf));
  EXPECT_EQ(4, ToLower(buf, "ABCDEFGH", 5));
  EXPECT_STREQ("abcd", buf);
  EXPECT_EQ('Z', buf[5]);
  EXPECT_EQ(0, ToLower(buf, nullptr, 5));
  EXPECT_STREQ("", buf);
  buf[0] = 'Q';
  EXPECT_EQ(0, ToLower(buf, "ABC", 0));
  EXPECT_EQ('Q', buf[0]);
  EXPECT_EQ(2, ToLower(buf, "\xC9X", sizeof(buf)));
  EXPECT_EQ('\xC9', buf[0]); // bytes above 127 stay as they are
  EXPECT_EQ('x', buf[1]);
}

TEST(LogText, MidiStatusNames)
{
  const char* expected[16] = {"none",        "unknown",       "unknown",       "unknown",
                              "unknown",     "unknown",       "unknown",       "unknown",
                              "noteoff",     "noteon",        "aftertouch",    "controlchange",
                              "programchange", "channelaftertouch", "pitchwheel", "unknown"};
  for (int i = 0; i < 16; ++i) EXPECT_STREQ(expected[i], StatusMsgStr(i)) << i;
  EXPECT_STREQ("unknown", StatusMsgStr(-1));
  EXPECT_STREQ("unknown", StatusMsgStr(0x90));
}

TEST(LogText, SysExHexDumpFitsItsCapacity)
{
  const unsigned char bytes[5] = {0x01, 0x02, 0x03, 0xAB, 0xFF};
  char buf[20];
  memset(buf, 'Z', sizeof(buf));
  SysExStr(buf, 10, bytes, 5);
  EXPECT_STREQ("01 02 03", buf);
  EXPECT_EQ('Z', buf[9]);

  // Exactly three bytes' worth: nothing written at or past index 9.
  memset(buf, 'Z', sizeof(buf));
  SysExStr(buf, 9, bytes, 5);
  EXPECT_STREQ("01 02 03", buf);
  EXPECT_EQ('Z', buf[9]);

  SysExStr(buf, 20, bytes, 5);
  EXPECT_STREQ("01 02 03 AB FF", buf);
  SysExStr(buf, 20, bytes, 0);
  EXPECT_STREQ("", buf);
  SysExStr(buf, 20, nullptr, 5);
  EXPECT_STREQ("", buf);
  SysExStr(buf, 2, bytes, 5);
  EXPECT_STREQ("", buf);
}

TEST(LogText, TracingAndOtherApiNamesDoNothing)
{
  Trace("Test", 1, "%d:%s", 3, "x");
  EXPECT_STREQ("", VSTOpcodeStr(12));
  EXPECT_STREQ("", AUSelectStr(1));
  EXPECT_STREQ("", AUPropertyStr(2));
  EXPECT_STREQ("", AUScopeStr(3));
}
