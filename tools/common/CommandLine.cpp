#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "ParamValues.h"

namespace cli {

bool ParseNumber(const std::string& text, double& value)
{
  if (text.empty()) return false;
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double v = strtod(s, &end);
  if (end == s || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseInt(const std::string& text, long lo, long hi, long& value)
{
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
  value = v;
  return true;
}

bool SplitNameValue(const std::string& text, std::string& name, std::string& value)
{
  const size_t eq = text.find('=');
  if (eq == std::string::npos) return false;
  name = TrimBlanks(text.substr(0, eq));
  value = TrimBlanks(text.substr(eq + 1));
  return !name.empty();
}

std::string Choices(const std::vector<std::string>& words, const char* last)
{
  std::string s;
  for (size_t i = 0; i < words.size(); ++i)
    s += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + words[i];
  return s;
}

namespace {

// Letters inserted, removed, changed or two swapped, ignoring case.
size_t EditDistance(const std::string& a, const std::string& b)
{
  const size_t n = a.size(), m = b.size();
  std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
  for (size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (size_t j = 0; j <= m; ++j) d[0][j] = j;
  auto low = [](char c) { return (char)tolower((unsigned char)c); };
  for (size_t i = 1; i <= n; ++i)
    for (size_t j = 1; j <= m; ++j)
    {
      const size_t cost = low(a[i - 1]) == low(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && low(a[i - 1]) == low(b[j - 2]) && low(a[i - 2]) == low(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

}  // namespace

std::string NearestName(const std::string& given, const std::vector<std::string>& names)
{
  std::string best;
  size_t bestScore = SIZE_MAX;
  bool tie = false;
  for (const std::string& name : names)
  {
    // A slip of one letter in four, at least one; "Att" for Attack counts
    // as one.
    size_t score = EditDistance(given, name);
    if (given.size() >= 3 && given.size() < name.size() && strncasecmp(given.c_str(), name.c_str(), given.size()) == 0)
      score = std::min<size_t>(score, 1);
    if (score > std::max<size_t>(1, name.size() / 4) || score >= given.size()) continue;
    if (score < bestScore)
    {
      best = name;
      bestScore = score;
      tie = false;
    }
    else if (score == bestScore && strcasecmp(best.c_str(), name.c_str()) != 0)
      tie = true;
  }
  return tie ? "" : best;
}

std::string Roff(const std::string& text)
{
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
  {
    const char c = text[i];
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else if ((c == '.' || c == '\'') && (i == 0 || text[i - 1] == '\n')) out += std::string("\\&") + c;
    else out += c;
  }
  return out;
}

std::string HelpEntry(const std::string& head, const std::string& text)
{
  const std::string body = FillText(text, 27);
  return head.size() < 26 ? head + body.substr(head.size()) : head + "\n" + body;
}

std::string RoffTagged(const std::string& tag, const std::string& text)
{
  return ".TP\n.B " + Roff(tag) + "\n" + Roff(text) + "\n";
}

std::string ExitStatusHelp(const std::vector<HelpItem>& items)
{
  std::string s;
  for (const HelpItem& e : items)
  {
    std::string head = std::string("  ") + e.term;
    head += std::string(head.size() < 12 ? 12 - head.size() : 1, ' ');
    s += head + FillText(e.text, 12).substr(12);
  }
  return s;
}

std::string ExitStatusRoff(const std::vector<HelpItem>& items)
{
  std::string s;
  for (const HelpItem& e : items) s += RoffTagged(e.term, e.text);
  return s;
}

std::string ExamplesHelp(const std::vector<HelpItem>& items)
{
  std::string s;
  for (const HelpItem& e : items) s += std::string("  ") + e.term + "\n" + FillText(e.text, 6);
  return s;
}

std::string ExamplesRoff(const std::vector<HelpItem>& items)
{
  std::string s;
  for (const HelpItem& e : items) s += ".PP\n" + Roff(e.text) + ":\n.RS\n.nf\n" + Roff(e.term) + "\n.fi\n.RE\n";
  return s;
}

}  // namespace cli
