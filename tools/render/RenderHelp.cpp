#include "RenderHelp.h"

#include <strings.h>

#include <cstdio>

#include "RenderOptions.h"

namespace {

const char* const kSynopsis[] = {
  "[options] [INPUT] OUTPUT",
  "[options] -o DIR INPUT...",
  "[options] --curve FILE.png",
  "[options] --save-preset FILE.vstpreset",
};

const char* const kDescription[] = {
  "Renders audio offline through the Tavlo VST 3 compressor, loading the "
  "bundle the way a DAW does and processing the file block by block as a "
  "DAW exports a track.",
  "INPUT is a file in any format the installed libsndfile reads (@FORMATS@), "
  "mono or stereo, or - for standard "
  "input (a mono file feeds both of the plug-in's inputs and comes out mono, "
  "the left output, which is then the right one too): from a pipe, WAV is read as it arrives and AIFF or FLAC held in a "
  "temporary file of at most 1 GiB. A WAV that ends before the length its "
  "header declares is rendered as far as it goes, with a warning. "
  "Without INPUT an embedded 8-second drum-and-bass loop is rendered. "
  "OUTPUT's extension picks its format (.wav, .aif, .aiff, .flac) and the "
  "input its precision, unless --bits says otherwise; - writes "
  "WAV to standard output, and the summary and progress then go to standard "
  "error. With -o DIR every INPUT is rendered into DIR under its own name.",
  "--preset starts from a factory preset, or from a preset a DAW saved for "
  "Tavlo: a FILE.vstpreset of any VST 3 host, whose state is restored as a "
  "host restores it, or an LV2 host's FILE.ttl, whose port values are set "
  "with the first block as an LV2 host sets them (a preset bundle's "
  "manifest.ttl leads to the preset's own file); a preset of another plug-in "
  "is refused. --save-preset writes a .vstpreset that VST 3 hosts load.",
  "At the end of each file one summary line reports duration and rate, peak "
  "and RMS of input and output, the largest and the average gain reduction "
  "(measured in 10 ms windows against the input times the Output gain), "
  "clipped and non-finite samples and the speed.",
};

const char* const kOutputs[] = {
  "Nothing is ever replaced without -y: an OUTPUT, plot, snapshot, curve, "
  "state or preset file that already exists is refused. Every file is written under a "
  "temporary name beside its destination and renamed into place when the "
  "whole render has succeeded, so the outputs of a render appear together or "
  "not at all; an interrupted or failed render removes its temporary files. "
  "A symbolic link is written through to its target. A FIFO or character "
  "device (/dev/stdout, /dev/null) is written directly once the render is "
  "complete, but a WAV into a pipe on standard output goes out as it is "
  "rendered, so that a pipeline starts at once; other special files are "
  "refused, and so is a terminal.",
  "No output ever replaces an input (INPUT, the --sidechain, --load-state or "
  "--preset file, any input of a batch), -y or not, and pictures are written only "
  "under names that end in .png, a state never under an audio name, and no "
  "picture, state or preset ever replaces a file that holds audio. A WAV that would pass 4 GiB is written as "
  "RF64, and an AIFF that would is refused, before rendering starts. A batch "
  "renders every file it can and names each one that failed.",
  "Samples clipped by 16- or 24-bit output and non-finite input samples "
  "(which are rendered as silence) are counted and reported as warnings.",
};

const std::vector<cli::HelpItem> kExitStatus = {
  {"0", "every output was written"},
  {"1", "a file could not be read or written, an output already exists or would replace an "
        "input, or the plug-in failed; nothing of that render was written (the other files of "
        "a batch still are)"},
  {"2", "the command line is wrong: an unknown option, a malformed or out-of-range value, "
        "an unknown parameter, a picture not named .png, missing or too many files"},
  {"130, 143", "interrupted by SIGINT or SIGTERM; temporary files are removed"},
};

const std::vector<cli::HelpItem> kExamples = {
  {"tavlo-render --set Input=120 --set Attack=2ms vocal.wav vocal-comp.wav",
   "compress a file, heavily, with a fast attack"},
  {"tavlo-render -o comp -j 2 --format flac --set Input=100 takes/*.wav",
   "render a folder of takes into comp/, two at a time, as FLAC"},
  {"sox a.flac -t wav - | tavlo-render --set Input=120 - - | sox -t wav - out.wav",
   "in a pipe"},
  {"tavlo-render --json --set Mix=50% in.wav out.wav | jq .gain_reduction_avg_db",
   "the summary as JSON"},
  {"tavlo-render --curve curve.png", "where compression starts, for five Input settings"},
  {"tavlo-render -o done --preset 'Vocal take.vstpreset' takes/*.wav",
   "a folder rendered with a preset dialled in by ear in a DAW"},
  {"tavlo-render --preset Tavlo_Mine.lv2/Mine.ttl --save-preset Mine.vstpreset",
   "an LV2 preset as a VST 3 preset, nothing rendered"},
};

using cli::Roff;

std::string Quote(const std::string& s)
{
  return "\"" + s + "\"";
}

}  // namespace

// The description, with the input formats this libsndfile reads.
std::vector<std::string> Description(const HelpFacts& facts)
{
  std::string formats;
  for (const std::string& e : facts.inputExtensions) formats += (formats.empty() ? "." : ", .") + e;
  std::vector<std::string> paragraphs;
  for (std::string p : kDescription)
  {
    const size_t at = p.find("@FORMATS@");
    if (at != std::string::npos) p.replace(at, 9, formats.empty() ? "WAV, AIFF, FLAC" : formats);
    paragraphs.push_back(p);
  }
  return paragraphs;
}

std::string AudioPattern(const HelpFacts& facts)
{
  std::string pattern;
  for (const std::string& e : facts.inputExtensions) pattern += (pattern.empty() ? "" : "|") + e;
  return pattern.empty() ? "wav|flac|aif|aiff" : pattern;
}

std::string HelpText(const HelpFacts& facts)
{
  std::string s;
  for (size_t i = 0; i < sizeof(kSynopsis) / sizeof(kSynopsis[0]); ++i)
    s += std::string(i == 0 ? "usage: " : "       ") + "tavlo-render " + kSynopsis[i] + "\n";
  for (const std::string& p : Description(facts)) s += "\n" + FillText(p, 0);

  s += "\nOptions:\n" + cli::OptionsHelp(RenderOptionTable());

  s += "\nParameters (VALUE with or without its unit; a number without unit is the\n"
       "plug-in's own value, in seconds for Attack and Release):\n";
  s += ParamsText(facts.params);

  s += "\nFactory presets (--preset NAME, by name or by the word in brackets):\n";
  s += PresetsText(facts.presets);

  s += "\nOutputs:\n";
  for (const char* p : kOutputs) s += FillText(p, 2);
  s += "\nExit status:\n" + cli::ExitStatusHelp(kExitStatus);
  s += "\nExamples:\n" + cli::ExamplesHelp(kExamples);
  return s;
}

std::string ManPage(const HelpFacts& facts)
{
  std::string s;
  s += ".TH TAVLO-RENDER 1 \"\" " + Quote("Tavlo " + facts.version) + " \"User Commands\"\n";
  s += ".SH NAME\ntavlo\\-render \\- render audio through the Tavlo compressor without a DAW\n";
  s += ".SH SYNOPSIS\n";
  for (const char* syn : kSynopsis) s += ".B tavlo\\-render\n" + Roff(syn) + "\n.br\n";
  s += ".SH DESCRIPTION\n";
  for (const std::string& p : Description(facts)) s += ".PP\n" + Roff(p) + "\n";
  s += ".SH OPTIONS\n" + cli::OptionsRoff(RenderOptionTable());
  s += ".SH PARAMETERS\n.PP\nVALUE with or without its unit; a number without unit is the plug\\-in's own value, "
       "in seconds for Attack and Release.\n";
  for (const ParamDesc& p : facts.params)
  {
    s += ".TP\n.B " + Roff(p.name) + "\n" + Roff(DescribeRange(p) + ", default " + FormatParamValue(p, p.def));
    if (p.unit && p.unit->description[0]) s += ".\n.br\n" + Roff(p.unit->description);
    s += "\n";
  }
  s += ".SH \"FACTORY PRESETS\"\n.PP\nFor \\-\\-preset NAME, by name or by the word in brackets.\n";
  for (const PresetDesc& p : facts.presets)
  {
    const std::string slug = PresetSlug(p.name);
    const bool sameWord = strcasecmp(slug.c_str(), p.name.c_str()) == 0;
    s += ".TP\n.B " + Roff(p.name) + (sameWord ? "" : " (" + Roff(slug) + ")") + "\n" + Roff(p.description) + "\n";
  }
  s += ".SH OUTPUTS\n";
  for (const char* p : kOutputs) s += ".PP\n" + Roff(p) + "\n";
  s += ".SH \"EXIT STATUS\"\n" + cli::ExitStatusRoff(kExitStatus);
  s += ".SH EXAMPLES\n" + cli::ExamplesRoff(kExamples);
  s += ".SH \"SEE ALSO\"\n.BR sox (1)\n";
  return s;
}

namespace {

// The shell code that completes an option's value, by its completion word.
std::string CompletionAction(const std::string& c, const HelpFacts& facts)
{
  std::string action;
  if (c == "param") action = "_tavlo_render_params \"$cur\"";
  else if (c == "preset")
  {
    std::string slugs;
    for (const PresetDesc& p : facts.presets) slugs += (slugs.empty() ? "" : " ") + PresetSlug(p.name);
    // Preset files a DAW saved, or the factory presets' words.
    action = "_tavlo_render_files \"$cur\" 'vstpreset|ttl'; COMPREPLY+=($(compgen -W '" + slugs +
             "' -- \"$cur\"))";
  }
  else if (c == "dir") action = "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\"))";
  else if (c == "png") action = "_tavlo_render_files \"$cur\" 'png'";
  else if (c == "plugin") action = "_tavlo_render_files \"$cur\" 'clap'";
  else if (c == "vstpreset") action = "_tavlo_render_files \"$cur\" 'vstpreset'";
  else if (c == "audio") action = "_tavlo_render_files \"$cur\" '" + AudioPattern(facts) + "'";
  else if (c == "file") action = "_tavlo_render_files \"$cur\" ''";
  else action = "COMPREPLY=($(compgen -W '" + c + "' -- \"$cur\"))";
  return action;
}

// Every option spelled for the command line, and a case of the completion
// function for each that takes a value.
void OptionCompletions(const HelpFacts& facts, std::string& options, std::string& cases)
{
  for (const OptionInfo& o : RenderOptionTable())
  {
    options += std::string(options.empty() ? "" : " ") + "--" + o.longName;
    if (o.shortName) options += std::string(" -") + o.shortName;
    if (!o.TakesValue()) continue;
    std::string pattern = std::string("--") + o.longName;
    if (o.shortName) pattern += std::string("|-") + o.shortName;
    std::string c = o.complete;
    for (const std::string& w : o.value.choices) c += (c.empty() ? "" : " ") + w;
    const std::string action = CompletionAction(c, facts);
    cases += "        " + pattern + ")\n            " + action + " ;;\n";
  }
}

std::string WordsFunction(const HelpFacts& facts)
{
  std::string s;
  // "u UNITS" follow a number; "w WORDS" are a switch's or a list's whole values.
  s += "_tavlo_render_words()\n{\n    case \"${1,,}\" in\n";
  for (const ParamDesc& p : facts.params)
  {
    std::string words;
    for (const std::string& w : ValueWords(p)) words += " " + w;
    std::string lower = p.name;
    for (char& c : lower) c = (char)tolower((unsigned char)c);
    const bool isSwitch = p.unit && p.unit->IsNamed();
    s += "        " + lower + ") echo '" + (isSwitch ? "w" : "u") + words + "' ;;\n";
  }
  s += "    esac\n}\n\n";
  return s;
}

std::string ParamsFunction(const HelpFacts& facts)
{
  std::string params;
  for (const ParamDesc& p : facts.params) params += (params.empty() ? "" : " ") + p.name;
  std::string s;
  s += "# NAME=, then a unit after NAME=NUMBER, or a switch's word; the value may\n"
       "# be the last of --automate's T:V points.\n"
       "_tavlo_render_params()\n{\n"
       "    local cur=\"$1\" name value tail kind words w\n"
       "    if [[ \"$cur\" != *=* ]]; then\n"
       "        COMPREPLY=($(compgen -S '=' -W '" + params + "' -- \"$cur\"))\n"
       "        compopt -o nospace 2>/dev/null\n"
       "        return\n"
       "    fi\n"
       "    name=\"${cur%%=*}\"\n"
       "    value=\"${cur#*=}\"\n"
       "    tail=\"${value##*[,:]}\"\n"
       "    read -r kind words <<< \"$(_tavlo_render_words \"$name\")\"\n"
       "    for w in $words; do\n"
       "        if [[ $kind == u && \"$tail\" =~ [0-9.]$ ]]; then COMPREPLY+=(\"$cur$w\")\n"
       "        elif [[ $kind == w && \"$w\" == \"${tail,,}\"* ]]; then COMPREPLY+=(\"${cur%\"$tail\"}$w\")\n"
       "        fi\n"
       "    done\n"
       "}\n\n";
  return s;
}

}  // namespace

std::string BashCompletion(const HelpFacts& facts)
{
  std::string options, cases;
  OptionCompletions(facts, options, cases);

  std::string s;
  s += "# bash completion for tavlo-render, made by tavlo-render --bash-completion\n";
  s += "# from the same table as its --help.\n\n";
  s += "_tavlo_render_files()\n{\n"
       "    local IFS=$'\\n' f\n"
       "    compopt -o filenames 2>/dev/null\n"
       "    for f in $(compgen -f -- \"$1\"); do\n"
       "        if [[ -d \"$f\" || -z \"$2\" || \"${f,,}\" =~ \\.($2)$ ]]; then COMPREPLY+=(\"$f\"); fi\n"
       "    done\n}\n\n";
  s += WordsFunction(facts);
  s += ParamsFunction(facts);
  s += "_tavlo_render()\n{\n"
       "    # Words split at blanks only: NAME=VALUE and T:V stay whole.\n"
       "    local line=\"${COMP_LINE:0:COMP_POINT}\"\n"
       "    local cur=\"${line##*[[:space:]]}\"\n"
       "    local before=\"${line%\"$cur\"}\"\n"
       "    before=\"${before%\"${before##*[![:space:]]}\"}\"\n"
       "    local prev=\"${before##*[[:space:]]}\"\n"
       "    COMPREPLY=()\n"
       "    case \"$prev\" in\n" + cases +
       "        *)\n"
       "            if [[ \"$cur\" == -* ]]; then\n"
       "                COMPREPLY=($(compgen -W '" + options + "' -- \"$cur\"))\n"
       "            else\n"
       "                _tavlo_render_files \"$cur\" '" + AudioPattern(facts) + "'\n"
       "            fi ;;\n"
       "    esac\n"
       "    # Bash replaces only the part after its last word break ('=' or ':').\n"
       "    local broken=\"${cur%\"${cur##*[=:]}\"}\"\n"
       "    if [[ -n \"$broken\" ]]; then COMPREPLY=(\"${COMPREPLY[@]#\"$broken\"}\"); fi\n"
       "    return 0\n"
       "}\n\n"
       "complete -F _tavlo_render tavlo-render\n";
  return s;
}
