#pragma once

// --snapshot: the editor drawn as the render leaves it. Once the render is
// over, the bundle's instance reports its state and its last meter values;
// both are shown by an off-screen editor over a table of the plug-in's
// parameters, with the bundle's images. Nothing runs beside the render.

#include <string>

#include "PluginSession.h"

class EditorSnapshot
{
public:
  // Whether snapshots can be drawn for the bundle of a loaded session: the
  // plug-in linked into this program, reporting its meters as this build's
  // bundle does.
  static bool Supports(const PluginSession& plug);
  // Draws the editor of the rendered session as it stands to a PNG file.
  static bool Write(PluginSession& rendered, const std::string& path, std::string& error);
};
