#pragma once

// Tavlo's editor: its layout on a graphics object of any window host, and
// the folder its images are loaded from. A module makes the graphics object
// of its window system (MakeEditor); tools and tests make off-screen ones.

#include <string>

class IFxBase;
class IGraphics;

// Editor size and its default refresh (0 lets the graphics core choose).
constexpr int kTavloEditorWidth = 786;
constexpr int kTavloEditorHeight = 483;
constexpr int kTavloEditorFPS = 0;

// Lays the editor out on pGraphics, made for a Tavlo (or a table of its
// parameters) at kTavloEditorWidth x kTavloEditorHeight and reading the
// images: background, controls, readouts. Returns pGraphics, which the
// caller attaches.
IGraphics* LayoutTavloEditor(IGraphics* pGraphics);

// The off-screen editor of a plug-in, with the images of resourceFolder
// (TavloResourceFolder() when null).
IGraphics* MakeTavloHeadlessEditor(IFxBase* pPlug, const char* resourceFolder = nullptr);

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
