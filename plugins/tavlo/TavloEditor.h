#pragma once

// How a Tavlo instance gets its editor: one factory for the platform's
// editor object, and the folder its images are loaded from.

#include <string>

class IFxBase;
class IGraphics;

// Editor size and its default refresh (0 lets the graphics core choose).
constexpr int kTavloEditorWidth = 786;
constexpr int kTavloEditorHeight = 483;
constexpr int kTavloEditorFPS = 0;

// The platform's editor object for a plug-in instance, reading its images
// from TavloResourceFolder(). The caller owns it until it is attached.
IGraphics* MakeGraphics(IFxBase* pPlug, int w, int h, int fps);

// The bundle's Contents/Resources folder, found from the path of the module
// this code runs in; when that folder has no images (the code is linked into
// a test or a tool rather than the bundle) the source tree's image folder.
// Always ends with '/'.
std::string TavloResourceFolder();

// The same decision for a module at modulePath: <bundle>/Contents/Resources/
// when the module sits in <bundle>/Contents/<arch>/ (VST 3), or
// <bundle>/Resources/ when it sits in <bundle>/ (LV2), and that folder holds
// bg.png; otherwise the source tree's image folder.
std::string TavloResourceFolderFor(const char* modulePath);
