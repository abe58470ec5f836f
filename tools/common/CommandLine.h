#pragma once

// The command lines of the Tavlo programs (tavlo-render, tavlo-jack): one
// table of options per program, each row saying how its value is read and
// what --help, the manual page and the completion say of it, and one parser
// over such a table, so that options the programs share read the same way.

#include <strings.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// How an option's value is read into a program's options (Opts) and where
// it goes.
template <class Opts>
using OptionSetterOf = std::function<bool(const std::string& value, Opts& opts, std::string& error)>;

template <class Opts>
struct OptionValueOf
{
  OptionSetterOf<Opts> set;          // a flag's is called with ""
  std::string range;                 // "1 to 65536"; empty: nothing to say
  std::string byDefault;             // what holds without the option; empty: nothing
  std::vector<std::string> choices;  // the whole values it takes, when a list
};

// One command-line option, for the parser, --help, the manual page and the
// shell completion alike.
template <class Opts>
struct OptionInfoOf
{
  char shortName;        // 0: none
  const char* longName;  // without the dashes
  std::string arg;       // empty: a flag; a list's is its choices ("32|64")
  const char* help;      // lines separated by '\n'
  const char* complete;  // what completes the value ("file", "param", "preset", ... or words); empty: the choices
  OptionValueOf<Opts> value;

  bool TakesValue() const { return !arg.empty(); }
};

namespace cli {

// Whole-string number: "1.5" yes, "1.5x", "" and "nan" no.
bool ParseNumber(const std::string& text, double& value);
// A whole number from lo to hi, nothing after it.
bool ParseInt(const std::string& text, long lo, long hi, long& value);
// "NAME=VALUE", blanks around '=' allowed; false without a name or '='.
bool SplitNameValue(const std::string& text, std::string& name, std::string& value);
// "a, b or c"
std::string Choices(const std::vector<std::string>& words, const char* last);
// The one name of names closest to a mistyped one, ignoring case: a slip
// of a letter or two (fewer for short names), or the start of the name;
// empty when none is close or two are equally close.
std::string NearestName(const std::string& given, const std::vector<std::string>& names);
// Escapes text for a manual page (roff).
std::string Roff(const std::string& text);

// ---- the kinds of option value ----

template <class Opts>
OptionValueOf<Opts> Flag(bool Opts::*member)
{
  return {[member](const std::string&, Opts& o, std::string&) { return o.*member = true; }, "", "", {}};
}

template <class Opts>
OptionValueOf<Opts> Text(std::string Opts::*member)
{
  return {[member](const std::string& v, Opts& o, std::string&) {
            o.*member = v;
            return true;
          },
          "", "", {}};
}

// A request to print something instead of running: help wins over the
// others; of those, the first given.
template <class Opts, class Request>
OptionValueOf<Opts> Info(Request Opts::*member, Request request, Request none, Request help)
{
  return {[=](const std::string&, Opts& o, std::string&) {
            if (request == help || o.*member == none) o.*member = request;
            return true;
          },
          "", "", {}};
}

// A whole number from lo to hi; the message says "--NAME must be " + what
// + "from lo to hi" + unit.
template <class Opts, class T>
OptionValueOf<Opts> Whole(const char* name, T Opts::*member, long lo, long hi, const char* what = "",
                          const char* unit = "")
{
  const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
  const std::string message = std::string("--") + name + " must be " + what + "from " + range + unit;
  return {[=](const std::string& v, Opts& o, std::string& error) {
            long n = 0;
            if (!ParseInt(v, lo, hi, n))
            {
              error = message + ", got '" + v + "'";
              return false;
            }
            o.*member = (T)n;
            return true;
          },
          range, std::to_string((long)(Opts().*member)), {}};
}

// One of a list of words (any case), each standing for a value; aliases
// are taken too but not offered.
template <class Opts, class T>
OptionValueOf<Opts> Choice(const char* name, T Opts::*member, std::vector<std::pair<std::string, T>> words,
                           std::vector<std::pair<std::string, T>> aliases = {})
{
  OptionValueOf<Opts> v;
  for (const auto& w : words) v.choices.push_back(w.first);
  for (const auto& w : words)
    if (w.second == Opts().*member) v.byDefault = w.first;
  const std::string message = std::string("--") + name + " must be " + Choices(v.choices, " or ");
  words.insert(words.end(), aliases.begin(), aliases.end());
  v.set = [=](const std::string& text, Opts& o, std::string& error) {
    for (const auto& w : words)
      if (strcasecmp(w.first.c_str(), text.c_str()) == 0)
      {
        o.*member = w.second;
        return true;
      }
    error = message + ", got '" + text + "'";
    return false;
  };
  return v;
}

template <class Opts>
OptionValueOf<Opts> Custom(OptionSetterOf<Opts> set)
{
  return {std::move(set), "", "", {}};
}

// What holds without the option, where the default value alone would not
// say it.
template <class Opts>
OptionValueOf<Opts> ByDefault(OptionValueOf<Opts> v, const char* text)
{
  v.byDefault = text;
  return v;
}

// A list's value is spelled by its choices: called once on a finished table.
template <class Opts>
void SpellChoices(std::vector<OptionInfoOf<Opts>>& table)
{
  for (OptionInfoOf<Opts>& o : table)
    if (!o.value.choices.empty())
    {
      o.arg.clear();
      for (const std::string& c : o.value.choices) o.arg += (o.arg.empty() ? "" : "|") + c;
    }
}

// ---- documentation from a table ----

// A term and what it says: an exit status, an example's command line.
struct HelpItem
{
  const char* term;
  const char* text;
};

// A help line's head and its text filled from column 27 beside it, or
// under it when the head reaches column 26.
std::string HelpEntry(const std::string& head, const std::string& text);
// A manual page's tagged paragraph: the tag in bold, the text under it.
std::string RoffTagged(const std::string& tag, const std::string& text);
// Exit statuses for --help (each term in a column of 12) and for a manual page.
std::string ExitStatusHelp(const std::vector<HelpItem>& items);
std::string ExitStatusRoff(const std::vector<HelpItem>& items);
// Examples for --help (the command, what it does indented under it) and for
// a manual page (what it does, then the command as it is typed).
std::string ExamplesHelp(const std::vector<HelpItem>& items);
std::string ExamplesRoff(const std::vector<HelpItem>& items);

// "-o, --output-dir DIR"
template <class Opts>
std::string OptionHead(const OptionInfoOf<Opts>& o, bool roff)
{
  const std::string dash = roff ? "\\-" : "-";
  std::string s;
  if (o.shortName) s += dash + o.shortName + ", ";
  s += dash + dash + o.longName;
  if (o.TakesValue()) s += " " + o.arg;
  return s;
}

// What an option does, then what its value may be and what holds without
// it; one line.
template <class Opts>
std::string OptionText(const OptionInfoOf<Opts>& o)
{
  std::string s = o.help, facts;
  for (char& c : s)
    if (c == '\n') c = ' ';
  if (!o.value.range.empty()) facts = o.value.range;
  if (!o.value.byDefault.empty()) facts += (facts.empty() ? "default " : "; default ") + o.value.byDefault;
  return facts.empty() ? s : s + " (" + facts + ")";
}

// The options of a table as --help lists them: each head, its text filled
// beside it from column 27, or under it when the head is wider.
template <class Opts>
std::string OptionsHelp(const std::vector<OptionInfoOf<Opts>>& table)
{
  std::string s;
  for (const OptionInfoOf<Opts>& o : table) s += HelpEntry("  " + OptionHead(o, false), OptionText(o));
  return s;
}

// The same as a manual page's tagged paragraphs.
template <class Opts>
std::string OptionsRoff(const std::vector<OptionInfoOf<Opts>>& table)
{
  std::string s;
  for (const OptionInfoOf<Opts>& o : table) s += RoffTagged(OptionHead(o, false), OptionText(o));
  return s;
}

// ---- the parser ----

template <class Opts>
const OptionInfoOf<Opts>* FindLong(const std::vector<OptionInfoOf<Opts>>& table, const std::string& name)
{
  for (const OptionInfoOf<Opts>& o : table)
    if (name == o.longName) return &o;
  return nullptr;
}

template <class Opts>
const OptionInfoOf<Opts>* FindShort(const std::vector<OptionInfoOf<Opts>>& table, char c)
{
  for (const OptionInfoOf<Opts>& o : table)
    if (o.shortName && o.shortName == c) return &o;
  return nullptr;
}

// Reads argv against table into opts; the arguments that are no option go
// to positional in order ("--" ends the options). Long options take
// "--name value" or "--name=value"; short flags may be bundled (-qy) and a
// short option's value may follow directly (-j2). False with a one-line
// message on a malformed line.
template <class Opts>
bool ParseCommandLine(int argc, const char* const* argv, const std::vector<OptionInfoOf<Opts>>& table, Opts& opts,
                      std::vector<std::string>& positional, std::string& error)
{
  for (int i = 1; i < argc; ++i)
  {
    const std::string arg = argv[i];
    if (arg == "--")
    {
      for (++i; i < argc; ++i) positional.push_back(argv[i]);
      break;
    }
    if (arg.size() < 2 || arg[0] != '-')
    {
      positional.push_back(arg);
      continue;
    }
    const OptionInfoOf<Opts>* o = nullptr;
    std::string value;
    bool hasValue = false;
    if (arg[1] == '-')
    {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      o = FindLong(table, name);
      if (!o)
      {
        std::vector<std::string> longNames;
        for (const OptionInfoOf<Opts>& known : table) longNames.push_back(known.longName);
        const std::string near = NearestName(name, longNames);
        error = "unknown option --" + name + (near.empty() ? "" : "; did you mean --" + near + "?") + " (see --help)";
        return false;
      }
      if (eq != std::string::npos)
      {
        if (!o->TakesValue())
        {
          error = "option --" + std::string(o->longName) + " takes no value";
          return false;
        }
        value = arg.substr(eq + 1);
        hasValue = true;
      }
    }
    else
    {
      // The flags before the last option are set here; o is the last.
      for (size_t k = 1; k < arg.size(); ++k)
      {
        o = FindShort(table, arg[k]);
        if (!o)
        {
          error = std::string("unknown option -") + arg[k] + " (see --help)";
          return false;
        }
        if (o->TakesValue())
        {
          if (k + 1 < arg.size())
          {
            value = arg.substr(k + 1);
            hasValue = true;
          }
          break;
        }
        if (k + 1 < arg.size() && !o->value.set("", opts, error)) return false;
      }
    }
    if (o->TakesValue() && !hasValue)
    {
      if (i + 1 >= argc)
      {
        error = "option --" + std::string(o->longName) + " needs a value (" + o->arg + ")";
        return false;
      }
      value = argv[++i];
    }
    if (!o->value.set(value, opts, error)) return false;
  }
  return true;
}

}  // namespace cli
