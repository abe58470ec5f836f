// tavlo-render: renders audio offline through the Tavlo VST 3 bundle, the
// way a DAW exports a track, with optional plot, editor snapshot and state;
// batches of files, pipes, and the static curve measured through the bundle.

#include <signal.h>

#include <cstdio>
#include <string>

#include "AudioFiles.h"
#include "LinkedTavlo.h"
#include "ProgressDisplay.h"
#include "RenderHelp.h"
#include "RenderOptions.h"
#include "RenderRun.h"

namespace {

// What the program prints instead of rendering.
int PrintInfo(InfoRequest request)
{
  HelpFacts facts;
  facts.version = TavloVersionText();
  switch (request)
  {
    case InfoRequest::kNone: return kExitUsage;
    case InfoRequest::kVersion:
      printf("tavlo-render %s (Tavlo %s, Quillmarshworks)\n", facts.version.c_str(), facts.version.c_str());
      return 0;
    case InfoRequest::kPresets:
      printf("Factory presets of Tavlo %s (--preset NAME; --set changes any value from there):\n%s",
             facts.version.c_str(), PresetsText(LinkedTavloPresets()).c_str());
      return 0;
    case InfoRequest::kParams:
      printf("Parameters of Tavlo %s (--set NAME=VALUE; VALUE with or without its unit):\n%s",
             facts.version.c_str(), ParamsText(LinkedTavloParams()).c_str());
      return 0;
    case InfoRequest::kHelp:
    case InfoRequest::kManPage:
    case InfoRequest::kBashCompletion: break;
  }
  facts.params = LinkedTavloParams();
  facts.presets = LinkedTavloPresets();
  facts.inputExtensions = ReadableExtensions();
  fputs((request == InfoRequest::kHelp      ? HelpText(facts)
         : request == InfoRequest::kManPage ? ManPage(facts)
                                            : BashCompletion(facts))
          .c_str(),
        stdout);
  return 0;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: the leak checker's table of suppressed fontconfig blocks
// would otherwise follow the program's one-line messages on standard error.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options()
{
  return "print_suppressions=0";
}
#endif

int main(int argc, char** argv)
{
  // A closed pipe is an error to report and clean up after, not a death.
  signal(SIGPIPE, SIG_IGN);
  WatchStopSignals();
  RenderOptions opts;
  std::string error;
  if (!ParseRenderOptions(argc, argv, opts, error)) return Fail(error, kExitUsage);
  if (opts.info != InfoRequest::kNone) return PrintInfo(opts.info);
  return opts.curve.empty() ? RunRender(opts) : RunCurve(opts);
}
