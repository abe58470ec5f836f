#pragma once

// Planning a render before anything is rendered: every output named and
// checked (formats, the no-overwrite rule, files that would land on each
// other or on an input), every input opened, the bundle found and loaded,
// and the settings read in the plug-in's units.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "Lv2PresetFile.h"
#include "OutputFiles.h"
#include "ParamValues.h"
#include "PluginSession.h"
#include "RenderEngine.h"
#include "RenderOptions.h"

// One output of a render, planned before anything is loaded.
struct FileJob
{
  std::string input;  // empty: the embedded loop
  OutputTarget out;
  OutputFormat format;
  std::unique_ptr<AudioSource> source;  // opened while planning, or in the worker
  int64_t frames = 0;                   // -1: not known until the end
  double rate = 0.0;
  std::string error;  // why this file of a batch cannot be rendered
  bool skipped = false;  // -n: its output exists, and is left as it is
};

// What every file of a run shares.
struct RenderShared
{
  const RenderOptions* opts = nullptr;
  std::string bundle;
  PluginModule module;
  std::vector<ParamDesc> descs;
  std::vector<ParamAutomation> automations;  // with values read in their units
  EngineSetup setup;                         // without rate
  std::vector<uint8_t> loadedState;   // from --load-state or a .vstpreset
  bool haveState = false;
  std::string stateFile;              // where loadedState came from, for messages
  std::string stateClass;             // the class a .vstpreset names; empty: not checked
  std::vector<Lv2Preset> lv2Preset;   // the one of an LV2 FILE.ttl, if given
  FILE* report = stdout;
  std::vector<std::string> madeFolders;  // by -o DIR, outermost first
  OutputTarget plot, snapshot, saveState, savePreset;
};

// Plans every output: names, formats, the no-overwrite rule and files that
// would land on each other. A batch file that cannot be written is marked
// failed; the others still render. 0, or the exit status after a message.
int PlanOutputs(const RenderOptions& opts, std::vector<FileJob>& jobs, RenderShared& shared);

// Opens a job's input and settles its output's container for the length
// found, before anything is rendered.
bool PrepareJob(const RenderOptions& opts, FileJob& job, std::string& error);
// Opens a job's input (the embedded loop when it names none).
bool OpenInput(const RenderOptions& opts, FileJob& job, std::string& error);
// Removes the folders -o DIR made that are still empty (a run that wrote
// nothing leaves no trace).
void RemoveEmptyMadeFolders(const RenderShared& shared);

// Opens --sidechain, if given, and checks it runs at rate.
bool OpenSidechain(const RenderOptions& opts, double rate, std::unique_ptr<AudioSource>& sc, std::string& error);

// Reads the states a render starts from: --load-state, a .vstpreset or an
// LV2 preset. 0, or the exit status after a message.
int ReadStartingState(const RenderOptions& opts, RenderShared& shared);

// Finds and loads the bundle, creates a first instance (probe) and reads
// the settings against its parameters. 0, or the exit status after a
// message.
int LoadBundle(const RenderOptions& opts, RenderShared& shared, std::unique_ptr<PluginSession>& probe);

// "the embedded loop", "standard input" or the file's name.
std::string InputName(const std::string& input);
std::string BaseName(const std::string& path);
