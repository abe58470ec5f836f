#include "tavlo/TavloEditor.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>

#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "graphics/IReadoutControls.h"
#include "graphics/ISlotControls.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "tavlo/TavloParams.h"

namespace {

// Resource ids and files of the artwork, in load order.
enum ETavloBitmaps
{
  kBgID = 105,
  kBypassID = 110,
  kOversampleID = 113,
  kInputID = 103,
  kOutputID = 108,
  kAttackID = 104,
  kReleaseID = 106,
  kMixID = 111,
  kHpfID = 112,
  kSidechainID = 119,
  kMeterID = 107,
  kDetectorID = 120,
  kListenID = 121,
  kSlotID = 122,
  kCopyID = 123
};

constexpr int kKnobFrames = 61;
constexpr int kMeterFrames = 61;

// Where a parameter's control sits and the film strip it draws, in the order
// the controls have always been attached: a control's index is its place
// here, and the meter's comes after them all.
struct ControlPlace
{
  int paramIdx;
  int bitmapId;
  const char* file;
  int x, y;
};
const ControlPlace kControls[] = {
  {kBypass, kBypassID, "resources/img/by.png", 354, 287},
  {kOversample, kOversampleID, "resources/img/OVER.png", 0, 455},
  {kInput, kInputID, "resources/img/Thr.png", 127, 279},
  {kOutput, kOutputID, "resources/img/Out.png", 506, 279},
  {kAttack, kAttackID, "resources/img/Atk.png", 112, 124},
  {kRelease, kReleaseID, "resources/img/Rel.png", 112, 176},
  {kMix, kMixID, "resources/img/Mix.png", 641, 121},
  {kHPF, kHpfID, "resources/img/Hpf.png", 641, 176},
  {kSidechain, kSidechainID, "resources/img/SC.png", 686, 454},
};
// The background is control 0; hosts' meter ports name the meter by its
// index, so a control added later goes after the readouts, not here.
static_assert(1 + sizeof(kControls) / sizeof(kControls[0]) == kTavloMeterControl,
              "the meter's control index moved");

// Controls added after the readouts, in this order. Detector is a row of its
// four names: a press on a name chooses it.
const ControlPlace kAddedControls[] = {
  {kDetector, kDetectorID, "resources/img/Det.png", 268, 455},
  {kListen, kListenID, "resources/img/Listen.png", 474, 455},
};
// The A/B comparison, under Bypass.
const int kSlotX = 318, kSlotY = 374, kCopyX = 404, kCopyY = 374;

// The panel's colours (the artwork's amber and legend grey).
const IColor kAmber(255, 242, 163, 58);
const IColor kLegend(255, 204, 209, 214);
const IColor kPlate(115, 0, 0, 0);
// Around the panel when a host makes the window larger than the editor: the
// artwork's darkest strip (along its bottom edge), so the panel stays framed.
const IColor kSurround(255, 20, 20, 23);

// Under the meter's caption: the gain reduction in dB.
const IRECT kGainReadoutRect(343, 207, 443, 225);
// Above the Bypass button: the control being turned, hovered or dragged.
const IRECT kParamReadoutRect(301, 237, 485, 269);

const IParamUnit kGainReductionUnit = {"dB", 1.0, 1, nullptr, nullptr, "gain reduction"};

// The meter shows the linear reduction 1 - gain; in dB that is the gain,
// down to -60 dB (a full swing of the needle, as when the meter starts).
double MeterToGainReductionDb(double meter)
{
  return TavloMeterToGainDb(meter);
}

bool FileExists(const std::string& path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ParentFolder(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The image folder of the source tree this file was compiled from. The build
// names it absolutely; __FILE__ may be relative to the build's own folder
// (a compiler cache rewrites paths) and so only right from one place.
std::string SourceImageFolder()
{
#ifdef TAVLO_SOURCE_IMAGE_DIR
  return TAVLO_SOURCE_IMAGE_DIR;
#else
  return ParentFolder(__FILE__) + "/resources/img/";
#endif
}

}  // namespace

std::string TavloResourceFolderFor(const char* modulePath)
{
  // A VST 3 module lives in <bundle>/Contents/x86_64-linux/ with its images
  // in <bundle>/Contents/Resources/; an LV2 module in <bundle>/ with its
  // images in <bundle>/Resources/; a CLAP module is a single file, Name.clap,
  // with its images in Name.clap.resources/ beside it.
  if (modulePath && *modulePath)
  {
    const std::string folder = ParentFolder(modulePath);
    for (const std::string& resources :
         {std::string(modulePath) + ".resources/", ParentFolder(folder) + "/Resources/", folder + "/Resources/"})
      if (FileExists(resources + "bg.png")) return resources;
  }
  return SourceImageFolder();
}

std::string TavloResourceFolder()
{
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&TavloResourceFolder), &info) && info.dli_fname)
    return TavloResourceFolderFor(info.dli_fname);
  return SourceImageFolder();
}

IGraphics* MakeTavloHeadlessEditor(IFxBase* pPlug, const char* resourceFolder)
{
  const std::string folder = resourceFolder ? resourceFolder : TavloResourceFolder();
  return LayoutTavloEditor(
    new IGraphicsHeadless(pPlug, kTavloEditorWidth, kTavloEditorHeight, kTavloEditorFPS, folder.c_str()));
}

IGraphics* LayoutTavloEditor(IGraphics* pGraphics)
{
  IFxBase* const plug = pGraphics->GetPlug();
  pGraphics->AttachBackground(kBgID, "resources/img/bg.png");
  pGraphics->SetSurroundColor(kSurround);

  // A knob for a continuous parameter; a switch or list steps through one
  // frame per value on each click.
  for (const ControlPlace& c : kControls)
  {
    const TavloParamDef& def = kTavloParams[c.paramIdx];
    const bool knob = def.kind == ETavloParamKind::kContinuous;
    const int frames = knob ? kKnobFrames : (int)(def.maxVal - def.minVal) + 1;
    IBitmap bitmap = pGraphics->LoadIBitmap(c.bitmapId, c.file, frames, false);
    if (knob)
      pGraphics->AttachControl(new IKnobMultiControl(plug, c.x, c.y, c.paramIdx, &bitmap));
    else
      pGraphics->AttachControl(new ISwitchControl(plug, c.x, c.y, c.paramIdx, &bitmap));
  }

  IBitmap bitmap = pGraphics->LoadIBitmap(kMeterID, "resources/img/vu.png", kMeterFrames, false);
  const int meterIdx = pGraphics->AttachControl(new IBitmapControl(plug, 309, 48, &bitmap));

  IText version(14, &COLOR_WHITE, "Monaco", IText::kStyleNormal, IText::kAlignCenter, 0,
                IText::kQualityDefault, &DEFAULT_TEXT_ENTRY_BGCOLOR, &DEFAULT_TEXT_ENTRY_FGCOLOR);
  pGraphics->AttachControl(new ITextControl(plug, IRECT(40, 425, 140, 445), &version, "Version 3.3.0"));

  // Readouts: additions after the original layout, so every index above
  // (the meter's at 10 above all) stays what it was.
  IReadoutStyle gain;
  gain.value = kAmber;
  gain.text = IText(12, &kAmber, "DejaVu Sans", IText::kStyleBold);
  pGraphics->AttachControl(
    new IPeakReadoutControl(plug, kGainReadoutRect, meterIdx, MeterToGainReductionDb, &kGainReductionUnit, gain));
  IReadoutStyle param;
  param.plate = kPlate;
  param.name = kLegend;
  param.value = kAmber;
  param.text = IText(12, &kLegend, "DejaVu Sans", IText::kStyleBold);
  pGraphics->AttachControl(new IParamReadoutControl(plug, kParamReadoutRect, param));

  for (const ControlPlace& c : kAddedControls)
  {
    const TavloParamDef& def = kTavloParams[c.paramIdx];
    const int frames = (int)(def.maxVal - def.minVal) + 1;
    IBitmap bitmap = pGraphics->LoadIBitmap(c.bitmapId, c.file, frames, false);
    if (c.paramIdx == kDetector)
      pGraphics->AttachControl(new ISwitchFramesControl(plug, c.x, c.y, c.paramIdx, &bitmap, true));
    else
      pGraphics->AttachControl(new ISwitchControl(plug, c.x, c.y, c.paramIdx, &bitmap));
  }
  IBitmap slot = pGraphics->LoadIBitmap(kSlotID, "resources/img/AB.png", 2, false);
  pGraphics->AttachControl(new ISlotSwitchControl(plug, kSlotX, kSlotY, &slot));
  IBitmap copy = pGraphics->LoadIBitmap(kCopyID, "resources/img/Copy.png", 4, false);
  pGraphics->AttachControl(new ISlotCopyControl(plug, kCopyX, kCopyY, &copy));
  // Hovering a control shows its readout.
  pGraphics->HandleMouseOver(true);
  return pGraphics;
}
