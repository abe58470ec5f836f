#include "JackOptions.h"

#include <cstring>

namespace {

using J = TavloJackOptions;

OptionValueOf<J> Info(JackInfo request) { return cli::Info(&J::info, request, JackInfo::kNone, JackInfo::kHelp); }

bool AddSetting(const std::string& value, J& opts, std::string& error)
{
  std::string name, text;
  if (!cli::SplitNameValue(value, name, text))
  {
    error = "--set expects NAME=VALUE, got '" + value + "'";
    return false;
  }
  opts.sets.emplace_back(name, text);
  return true;
}

bool AddConnection(const std::string& value, J& opts, std::string& error)
{
  const size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == value.size() || value.find('=', eq + 1) != std::string::npos)
  {
    error = "--connect expects SRC=DST (system:capture_1=in_L), got '" + value + "'";
    return false;
  }
  opts.connects.push_back(value);
  return true;
}

bool SetName(const std::string& value, J& opts, std::string& error)
{
  // JACK's limit, less room for the ports' names after the colon.
  if (value.empty() || value.size() > 63 || value.find(':') != std::string::npos)
  {
    error = "--name must be 1 to 63 characters without ':', got '" + value + "'";
    return false;
  }
  opts.name = value;
  return true;
}

}  // namespace

const std::vector<JackOptionInfo>& JackOptionTable()
{
  static const std::vector<JackOptionInfo> kTable = [] {
    std::vector<JackOptionInfo> t = {
      {0, "preset", "NAME|FILE",
       "start from a factory preset (see below), or from a preset a DAW\n"
       "saved: a VST 3 FILE.vstpreset or an LV2 FILE.ttl; --set changes it\n"
       "from there",
       "preset", cli::Text(&J::preset)},
      {0, "set", "NAME=VALUE",
       "set a parameter at the start, with or without its unit (Input=120,\n"
       "Attack=5ms, Sidechain=external); repeatable",
       "param", cli::Custom<J>(AddSetting)},
      {0, "load-state", "FILE", "restore a state written by tavlo-render --save-state (or by an NSM\n"
                                "session) before --preset and --set", "file",
       cli::Text(&J::loadState)},
      {0, "settings", "FILE", "read the MIDI map from FILE: lines 'cc NUMBER = PARAMETER' (or\n"
                              "'= none') change the default map", "file",
       cli::ByDefault(cli::Text(&J::settings), "~/.config/tavlo/tavlo-jack.conf when it exists")},
      {'c', "connect", "SRC=DST",
       "connect two ports once running; a name without ':' is one of this\n"
       "program's (system:capture_1=in_L, out_L=system:playback_1); repeatable",
       "port", cli::Custom<J>(AddConnection)},
      {'n', "name", "NAME", "the JACK client's name (a session manager gives its own)", "",
       cli::ByDefault(cli::Custom<J>(SetName), "Tavlo")},
      {0, "headless", "", "run without the editor; the xrun count is printed at exit", "",
       cli::Flag(&J::headless)},
      {'l', "list-ports", "", "list the server's ports and stop", "", cli::Flag(&J::listPorts)},
      {0, "version", "", "print the version", "", Info(JackInfo::kVersion)},
      {'h', "help", "", "print this text", "", Info(JackInfo::kHelp)},
      {0, "man-page", "", "print the manual page (roff), made from this text", "", Info(JackInfo::kManPage)},
      {0, "bash-completion", "", "print the bash completion script", "", Info(JackInfo::kBashCompletion)},
    };
    cli::SpellChoices(t);
    return t;
  }();
  return kTable;
}

bool ParseJackOptions(int argc, const char* const* argv, TavloJackOptions& opts, std::string& error)
{
  std::vector<std::string> positional;
  if (!cli::ParseCommandLine(argc, argv, JackOptionTable(), opts, positional, error)) return false;
  if (!positional.empty())
  {
    error = "tavlo-jack takes no files; '" + positional[0] + "' is not an option (see --help)";
    return false;
  }
  return true;
}

namespace {

const char* const kDescription[] = {
  "Runs the Tavlo compressor as a JACK client, under jackd2 or under "
  "PipeWire's JACK (pw-jack), with its editor in a window of its own. It "
  "has the ports in_L and in_R (the signal), sc_L and sc_R (the side-chain, "
  "heard when Sidechain is external), out_L and out_R, and midi_in, and "
  "says at start which server it found. Nothing is connected unless "
  "--connect says so or a patchbay or session manager does.",
  "MIDI on any channel: a control change moves the parameter mapped to its "
  "number over the parameter's whole range (0 to 127), a program change "
  "chooses the factory preset of that number (0 the first).",
  "Under a session manager speaking NSM (NSM_URL set, as the Non and "
  "RaySession managers start clients) the program announces itself, takes "
  "its client name and a folder from the session, keeps its state in "
  "state.tavlo there, restores it when the session is opened again, tells "
  "the manager when the settings have changed since the last save, and "
  "shows or hides its editor on request.",
  "The server's period size and sample rate may change while it runs: a "
  "new rate sets the compressor up afresh, as a DAW does; a new period "
  "size goes on without a gap. Xruns are counted in the editor's title, "
  "and printed at exit with --headless. SIGINT and SIGTERM end it cleanly.",
};

const std::vector<cli::HelpItem> kExitStatus = {
  {"0", "ended by a signal, the editor's window or the session manager"},
  {"1", "no JACK server, a port could not be connected, a settings, state or preset file could not be read, or "
        "the server went away"},
  {"2", "the command line is wrong"},
};

const std::vector<cli::HelpItem> kExamples = {
  {"tavlo-jack --preset lead-vocal -c system:capture_1=in_L -c system:capture_1=in_R -c out_L=system:playback_1",
   "compress a microphone on the way to the speakers"},
  {"pw-jack tavlo-jack --headless --set Input=120", "under PipeWire, without the editor"},
  {"tavlo-jack --name bus --load-state bus.state", "a second instance with the settings of a render"},
};

}  // namespace

std::string JackHelpText(const JackHelpFacts& facts)
{
  std::string s = "usage: tavlo-jack [options]\n";
  for (const char* p : kDescription) s += "\n" + FillText(p, 0);
  s += "\nOptions:\n" + cli::OptionsHelp(JackOptionTable());
  s += "\nParameters (--set NAME=VALUE, VALUE with or without its unit):\n" + ParamsText(facts.params);
  s += "\nFactory presets (--preset NAME, or MIDI program change 0, 1, ...):\n" + PresetsText(facts.presets);
  s += "\nMIDI control changes by default:\n" + FillText(facts.ccMap, 2);
  s += "\nExit status:\n" + cli::ExitStatusHelp(kExitStatus);
  s += "\nExamples:\n" + cli::ExamplesHelp(kExamples);
  return s;
}

std::string JackManPage(const JackHelpFacts& facts)
{
  using cli::Roff;
  std::string s = ".TH TAVLO-JACK 1 \"\" \"Tavlo " + facts.version + "\" \"User Commands\"\n";
  s += ".SH NAME\ntavlo\\-jack \\- the Tavlo compressor as a JACK and PipeWire program\n";
  s += ".SH SYNOPSIS\n.B tavlo\\-jack\n[options]\n.SH DESCRIPTION\n";
  for (const char* p : kDescription) s += ".PP\n" + Roff(p) + "\n";
  s += ".SH OPTIONS\n" + cli::OptionsRoff(JackOptionTable());
  s += ".SH PARAMETERS\n";
  for (const ParamDesc& p : facts.params)
    s += cli::RoffTagged(p.name, DescribeRange(p) + ", default " + FormatParamValue(p, p.def));
  s += ".SH \"FACTORY PRESETS\"\n";
  for (size_t i = 0; i < facts.presets.size(); ++i)
    s += ".TP\n.B " + Roff(facts.presets[i].name) + " (" + Roff(PresetSlug(facts.presets[i].name)) + ", program " +
         std::to_string(i) + ")\n" + Roff(facts.presets[i].description) + "\n";
  s += ".SH MIDI\n.PP\nControl changes by default: " + Roff(facts.ccMap) + ".\n";
  s += ".SH \"EXIT STATUS\"\n" + cli::ExitStatusRoff(kExitStatus);
  s += ".SH EXAMPLES\n" + cli::ExamplesRoff(kExamples);
  s += ".SH \"SEE ALSO\"\n.BR tavlo\\-render (1),\n.BR jackd (1),\n.BR pw\\-jack (1)\n";
  return s;
}

std::string JackBashCompletion(const JackHelpFacts& facts)
{
  std::string options, cases, params, presets;
  for (const ParamDesc& p : facts.params) params += (params.empty() ? "" : " ") + p.name;
  for (const PresetDesc& p : facts.presets) presets += (presets.empty() ? "" : " ") + PresetSlug(p.name);
  for (const JackOptionInfo& o : JackOptionTable())
  {
    options += std::string(options.empty() ? "" : " ") + "--" + o.longName;
    if (o.shortName) options += std::string(" -") + o.shortName;
    if (!o.TakesValue()) continue;
    std::string pattern = std::string("--") + o.longName + (o.shortName ? std::string("|-") + o.shortName : "");
    const std::string c = o.complete;
    std::string action;
    if (c == "param")
      action = "COMPREPLY=($(compgen -S '=' -W '" + params + "' -- \"$cur\")); compopt -o nospace 2>/dev/null";
    else if (c == "preset")
      action = "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -X '!*.@(vstpreset|ttl)' -- \"$cur\") "
               "$(compgen -d -- \"$cur\") $(compgen -W '" + presets + "' -- \"$cur\"))";
    else if (c == "port")
      action = "COMPREPLY=($(compgen -W \"$(jack_lsp 2>/dev/null) in_L in_R sc_L sc_R out_L out_R midi_in\" -- "
               "\"${cur#*=}\"))";
    else if (c == "file")
      action = "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\"))";
    else
      action = "COMPREPLY=()";
    cases += "        " + pattern + ")\n            " + action + " ;;\n";
  }
  std::string s = "# bash completion for tavlo-jack, made by tavlo-jack --bash-completion\n"
                  "# from the same table as its --help.\n\n"
                  "_tavlo_jack()\n{\n"
                  "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
                  "    # NAME=VALUE: bash splits at '=', the value is the current word.\n"
                  "    if [[ \"$cur\" == = ]]; then cur=''; fi\n"
                  "    if [[ \"$prev\" == = && $COMP_CWORD -ge 2 ]]; then prev=\"${COMP_WORDS[COMP_CWORD-2]}\"; fi\n"
                  "    COMPREPLY=()\n"
                  "    case \"$prev\" in\n" + cases +
                  "        *) COMPREPLY=($(compgen -W '" + options + "' -- \"$cur\")) ;;\n"
                  "    esac\n"
                  "    return 0\n}\n\n"
                  "complete -F _tavlo_jack tavlo-jack\n";
  return s;
}
