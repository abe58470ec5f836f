#pragma once

// The editor snapshot. The plug-in in the bundle is a module of its own and
// shows its editor only inside a host window, so the renderer carries the
// same plug-in code linked in and runs a twin instance beside the bundle's:
// same state, same parameter changes, same audio, block for block. Its
// output is compared with the bundle's sample for sample, so the picture is
// the editor of an instance in exactly the bundle instance's state; its
// off-screen editor is then drawn to a PNG.

#include <memory>
#include <string>
#include <vector>

#include "ParamValues.h"
#include "PluginSession.h"

class IFxVST3;

class EditorTwin
{
public:
  EditorTwin();
  ~EditorTwin();

  // Whether the bundle's class is the plug-in linked into this program.
  static bool Matches(const Steinberg::TUID bundleClassId);

  // Creates the twin, loading its images from resourceFolder.
  bool Create(const std::string& resourceFolder, std::string& error);
  PluginSession& Session() { return *mSession; }

  // Draws the whole editor to a PNG file.
  bool Snapshot(const std::string& path, std::string& error);

private:
  std::unique_ptr<PluginSession> mSession;
  IFxVST3* mPlug = nullptr;  // kept alive by the session's references
};

// The folder of a bundle's images, from the path of its module.
std::string BundleResourceFolder(const std::string& soPath);

// The parameters of the Tavlo linked into this program, for --help,
// --params and the manual page: no bundle needs to be found for those.
std::vector<ParamDesc> LinkedTavloParams();
// The factory presets of the Tavlo linked into this program, with what each
// is for.
std::vector<PresetDesc> LinkedTavloPresets();
// The parameters of a loaded bundle; Tavlo's carry their units.
std::vector<ParamDesc> SessionParams(const PluginSession& session);
// "3.3.0"
std::string TavloVersionText();
