#include "JackEditor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "PollLoop.h"
#include "TavloJackEngine.h"
#include "platform/linux/IGraphicsLinux.h"
#include "tavlo/TavloEditor.h"

std::string JackEditor::ResourceFolder()
{
  // The CLAP bundle's images, installed with this program: where the
  // renderer looks for its bundle, beside this program's folder first.
  std::vector<std::string> candidates;
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n > 0)
  {
    const std::string path(exe, (size_t)n);
    candidates.push_back(path.substr(0, path.rfind('/')) + "/../lib/clap/");
  }
  if (const char* home = getenv("HOME")) candidates.push_back(std::string(home) + "/.clap/");
  candidates.push_back("/usr/local/lib/clap/");
  candidates.push_back("/usr/lib/clap/");
  for (const std::string& dir : candidates)
  {
    const std::string resources = dir + "Tavlo.clap.resources/";
    struct stat st;
    if (stat((resources + "bg.png").c_str(), &st) == 0) return resources;
  }
  // Not installed: the build's own, as the plug-in code finds them.
  return TavloResourceFolder();
}

bool JackEditor::Show(const std::string& title, std::string& error)
{
  if (Shown()) return true;
  IFxBase& plug = mEngine.Plug();
  if (!mWindow.Open(kTavloEditorWidth, kTavloEditorHeight, title, "tavlo-jack", error)) return false;
  auto* pGraphics = static_cast<IGraphics*>(LayoutTavloEditor(new IGraphicsLinux(
    &plug, kTavloEditorWidth, kTavloEditorHeight, kTavloEditorFPS, ResourceFolder().c_str())));
  plug.AttachGraphics(pGraphics);
  pGraphics->SetHostRunLoop(&mLoop);
  if (!pGraphics->OpenWindow(reinterpret_cast<void*>(mWindow.XWindow())))
  {
    pGraphics->SetHostRunLoop(nullptr);
    plug.DeleteGraphics();
    mWindow.Close();
    error = "the editor's window could not be opened";
    return false;
  }
  // The editor's scale (a high-density screen) decides the window's size.
  mWindow.Resize(pGraphics->WindowWidth(), pGraphics->WindowHeight());
  plug.OnGUIOpen();
  return true;
}

void JackEditor::Hide()
{
  IFxBase& plug = mEngine.Plug();
  if (auto* pGraphics = static_cast<IGraphics*>(plug.GetGraphics()))
  {
    if (pGraphics->WindowIsOpen())
    {
      plug.OnGUIClose();
      pGraphics->CloseWindow();
    }
    pGraphics->SetHostRunLoop(nullptr);
    plug.DeleteGraphics();
  }
  mWindow.Close();
}
