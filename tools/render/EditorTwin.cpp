#include "EditorTwin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fx/IParam.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"
#include "vst3/IFxVST3.h"

namespace {

// Read by TwinEditor while the twin is constructed.
std::string gTwinResources;

constexpr unsigned char kTavloClassId[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                             0x51, 0x75, 0x69, 0x6C, 0x54, 0x61, 0x76, 0x31};

// The off-screen editor, with the images of the bundle being rendered
// rather than those the linked-in code would find from this program's path.
IGraphics* TwinEditor(IFxBase* pPlug)
{
  return MakeTavloHeadlessEditor(pPlug, gTwinResources.empty() ? nullptr : gTwinResources.c_str());
}

}  // namespace

std::string BundleResourceFolder(const std::string& soPath)
{
  return TavloResourceFolderFor(soPath.c_str());
}

EditorTwin::EditorTwin() {}

EditorTwin::~EditorTwin()
{
  mSession.reset();
}

bool EditorTwin::Matches(const Steinberg::TUID bundleClassId)
{
  return memcmp(bundleClassId, kTavloClassId, sizeof(kTavloClassId)) == 0;
}

bool EditorTwin::Create(const std::string& resourceFolder, std::string& error)
{
  gTwinResources = resourceFolder;
  IFxBase* plug = MakePlug();
  mPlug = plug ? new IFxVST3(plug, TwinEditor) : nullptr;
  if (!mPlug)
  {
    error = "cannot create the editor's instance";
    return false;
  }
  Steinberg::FUnknown* unknown = nullptr;
  mPlug->queryInterface(Steinberg::FUnknown::iid, (void**)&unknown);
  mPlug->release();  // the query's reference now keeps it
  if (!unknown)
  {
    error = "cannot create the editor's instance";
    return false;
  }
  mSession.reset(new PluginSession());
  if (!mSession->Adopt(unknown, error))
  {
    error = "editor instance: " + error;
    return false;
  }
  if (!mPlug->Plug()->GetGraphics())
  {
    error = "the plug-in has no editor";
    return false;
  }
  return true;
}

bool EditorTwin::Snapshot(const std::string& path, std::string& error)
{
  if (!mPlug || !RenderEditorToPNG(mPlug->Plug(), path.c_str()))
  {
    error = "cannot write snapshot " + path;
    return false;
  }
  return true;
}

std::vector<ParamDesc> LinkedTavloParams()
{
  std::vector<ParamDesc> descs;
  // Only the parameters are read: the editor's images, which this program
  // may have no bundle to load from, are not missed, so their complaints
  // are not shown.
  fflush(stderr);
  const int savedErr = dup(STDERR_FILENO);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (savedErr >= 0 && devNull >= 0) dup2(devNull, STDERR_FILENO);
  IFxBase* plug = MakePlug();
  fflush(stderr);
  if (savedErr >= 0 && devNull >= 0) dup2(savedErr, STDERR_FILENO);
  if (savedErr >= 0) close(savedErr);
  if (devNull >= 0) close(devNull);
  if (!plug) return descs;
  for (int i = 0; i < plug->ParamCount(); ++i)
  {
    const IParam* p = plug->ParamAt(i);
    ParamDesc s;
    s.name = p->GetNameForHost();
    s.min = p->GetMin();
    s.max = p->GetMax();
    s.def = p->GetDefaultValue();
    s.stepCount = p->GetStepCount();
    s.unit = p->GetUnit();
    descs.push_back(s);
  }
  delete plug;
  return descs;
}

std::vector<PresetDesc> LinkedTavloPresets()
{
  std::vector<PresetDesc> presets;
  for (const TavloPreset& p : kTavloPresets) presets.push_back({p.name, p.description});
  return presets;
}

std::vector<ParamDesc> SessionParams(const PluginSession& session)
{
  Steinberg::TUID cid;
  const bool tavlo = session.ClassId(cid) && EditorTwin::Matches(cid);
  std::vector<ParamDesc> descs;
  for (const HostParam& p : session.Params())
  {
    if (PluginSession::IsHostOnly(p)) continue;
    ParamDesc s;
    s.name = p.title;
    s.min = p.min;
    s.max = p.max;
    s.def = p.def;
    s.stepCount = p.stepCount;
    s.unit = tavlo && p.id < (Steinberg::Vst::ParamID)kNumParams ? &kTavloParamUnits[p.id] : nullptr;
    descs.push_back(s);
  }
  return descs;
}

std::string TavloVersionText()
{
  char buf[32];
  snprintf(buf, sizeof(buf), "%d.%d.%d", kTavloVersion >> 16, (kTavloVersion >> 8) & 0xFF, kTavloVersion & 0xFF);
  return buf;
}
