#pragma once

// A small plug-in whose host operations only record what they were asked,
// an off-screen editor for it, and film strips written to a temporary folder.

#include <string>
#include <vector>

#include "fx/IFxBase.h"
#include "fx/IParam.h"
#include "graphics/IControl.h"
#include "platform/headless/IGraphicsHeadless.h"

enum ETestParams
{
  kGain = 0,    // double -20..20 dB, step 0.1, default 0
  kMode = 1,    // enum of three: "soft", "medium", "hard"; default 1
  kSwitch = 2,  // bool, default on
  kMix = 3,     // double 0..100 %, step 1, default 100
  kNumTestParams
};

class TestPlug : public IFxBase
{
public:
  explicit TestPlug(EAPI api = kAPIVST3);

  void OnParamChange(int paramIdx) override;
  void PopupHostContextMenuForParam(int paramIdx, int x, int y) override;
  // Logs "menu 0 10 20 Enter value...|Reset to default" and answers whether
  // the host shows a menu (mHostMenus).
  bool PopupParamMenu(int paramIdx, int x, int y, const IFxMenuEntry* entries, int nEntries) override;
  void BeginInformHostOfParamChange(int paramIdx) override;
  void InformHostOfParamChange(int paramIdx, double normalizedValue) override;
  void EndInformHostOfParamChange(int paramIdx) override;
  void InformHostOfProgramChange() override {}
  int GetSamplePos() override { return 0; }
  double GetTempo() override { return 120.0; }
  void GetTimeSig(int* pNum, int* pDenom) override { *pNum = 4; *pDenom = 4; }
  void GetTime(ITimeInfo*) override {}
  void ResizeGraphics(int w, int h) override;
  bool SendMidiMsg(IMidiMsg*) override { return false; }

  // Everything the base told the "host", in order: "begin 0", "edit 0 0.5", "end 0",
  // "context 0 10 20", "menu 0 10 20 ...", "resize 100 50", "change 0".
  std::vector<std::string> mLog;
  std::vector<double> mEdits;  // normalised values of every edit, in order
  bool mHostMenus = true;

  int Count(const std::string& prefix) const;
};

// Writes the test images once per process and returns their folder.
const std::string& TestResourceDir();

// Colour of frame k (1-based) in the test strips: red channel k, fixed green and blue.
inline unsigned FramePixel(int k) { return 0xFF000000u | ((unsigned)k << 16) | (7u << 8) | 9u; }
// Colour of frame k of the twice-size twin: the blue channel tells them apart.
inline unsigned TwinPixel(int k) { return 0xFF000000u | ((unsigned)k << 16) | (7u << 8) | 99u; }

// Images in the folder:
//   strip61.png   10 x 366, 61 vertical frames of 10 x 6, frame k solid FramePixel(k)
//   switch2.png   12 x 16,   2 vertical frames of 12 x 8
//   switch3.png   12 x 24,   3 vertical frames
//   hstrip4.png   40 x 5,    4 horizontal frames of 10 x 5
//   bg.png        100 x 80,  solid (255, 10, 20, 30)
//   alpha.png     4 x 4,     left half alpha 0, right half (128, 255, 255, 255)
//   font.png      6 x 96,    8 frames of 6 x 12 ("blank" frame 1 then codes 33..39), frame k FramePixel(k)
//   strip61@2x.png 20 x 732, its twin at twice the size, frame k solid TwinPixel(k)
//   switch2@2x.png 25 x 33,  a twin of the wrong size, to be ignored
//   edge.png      8 x 8,     left half transparent green, right half opaque red

// Resource ids of the images above; the bitmap cache is keyed by id for the whole process.
enum ETestImages
{
  kStrip61Id = 1001,
  kSwitch2Id,
  kSwitch3Id,
  kHStrip4Id,
  kBgId,
  kAlphaId,
  kFontId,
  kEdgeId
};

// A plug-in with a 100 x 80 headless editor; controls are added by the caller
// before Attach() (which sends every parameter into them, as the base does).
class EditorFixture
{
public:
  EditorFixture(int w = 100, int h = 80);
  ~EditorFixture();
  void Attach() { plug->AttachGraphics(gui); }
  IBitmap Load(int id, const char* name, int n, bool horizontal = false)
  {
    return gui->LoadIBitmap(id, name, n, horizontal);
  }

  TestPlug* plug;
  IGraphicsHeadless* gui;
};
