#include "EditorTwin.h"

#include <cstring>

#include "platform/headless/IGraphicsHeadless.h"
#include "tavlo/Tavlo.h"
#include "tavlo/TavloEditor.h"

namespace {

// Read by MakeGraphics while the twin is constructed.
std::string gTwinResources;

constexpr unsigned char kTavloClassId[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                                             0x51, 0x75, 0x69, 0x6C, 0x54, 0x61, 0x76, 0x31};

}  // namespace

// The off-screen editor, with the images of the bundle being rendered
// rather than those the linked-in code would find from this program's path.
IGraphics* MakeGraphics(IFxBase* pPlug, int w, int h, int fps)
{
  const std::string folder = gTwinResources.empty() ? TavloResourceFolder() : gTwinResources;
  return new IGraphicsHeadless(pPlug, w, h, fps, folder.c_str());
}

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
  mPlug = MakePlug();
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
  if (!mPlug->GetGraphics())
  {
    error = "the plug-in has no editor";
    return false;
  }
  return true;
}

bool EditorTwin::Snapshot(const std::string& path, std::string& error)
{
  if (!mPlug || !RenderEditorToPNG(mPlug, path.c_str()))
  {
    error = "cannot write snapshot " + path;
    return false;
  }
  return true;
}
