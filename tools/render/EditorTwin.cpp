#include "EditorTwin.h"

#include <cstring>

#include "LinkedTavlo.h"
#include "platform/headless/IGraphicsHeadless.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"
#include "vst3/IFxVST3.h"

namespace {

// Read by TwinEditor while the twin is constructed.
std::string gTwinResources;

// The off-screen editor, with the images of the bundle being rendered
// rather than those the linked-in code would find from this program's path.
IGraphics* TwinEditor(IFxBase* pPlug)
{
  return MakeTavloHeadlessEditor(pPlug, gTwinResources.empty() ? nullptr : gTwinResources.c_str());
}

}  // namespace

bool EditorSnapshot::Supports(const Steinberg::TUID classId)
{
  return IsLinkedTavlo(classId);
}

std::unique_ptr<EditorSnapshot> EditorSnapshot::Make(const std::string& soPath, std::string& error)
{
  std::unique_ptr<EditorTwin> twin(new EditorTwin());
  if (!twin->Create(TavloResourceFolderFor(soPath.c_str()), error)) return nullptr;
  return twin;
}

EditorTwin::~EditorTwin()
{
  mSession.reset();
}

bool EditorTwin::Create(const std::string& resourceFolder, std::string& error)
{
  gTwinResources = resourceFolder;
  IFxBase* plug = MakePlug();
  mPlug = plug ? new IFxVST3(plug) : nullptr;
  // A binding makes its editor only for a host's view; the twin's is drawn
  // off-screen and kept for the twin's life.
  if (plug) plug->AttachGraphics(TwinEditor(plug));
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

bool EditorTwin::Start(double rate, int maxBlock, int precision, bool sidechain, std::string& error)
{
  return mSession->Start(rate, maxBlock, precision, sidechain, error);
}

bool EditorTwin::SetState(const std::vector<uint8_t>& bytes, std::string& error)
{
  return mSession->SetState(bytes, error);
}

void EditorTwin::Stop()
{
  mSession->Stop();
}

bool EditorTwin::Write(PluginSession&, const std::string& path, std::string& error)
{
  if (!mPlug || !RenderEditorToPNG(mPlug->Plug(), path.c_str()))
  {
    error = "cannot write snapshot " + path;
    return false;
  }
  return true;
}
