#pragma once

// The editor snapshot by a twin. The plug-in in the bundle is a module of
// its own and shows its editor only inside a host window, so the renderer
// carries the same plug-in code linked in and runs a twin instance beside
// the bundle's: same state, same parameter changes, same audio, block for
// block. Its output is compared with the bundle's sample for sample, so the
// picture is the editor of an instance in exactly the bundle instance's
// state; its off-screen editor is then drawn to a PNG.

#include <memory>
#include <string>

#include "EditorSnapshot.h"

class IFxVST3;

class EditorTwin : public EditorSnapshot
{
public:
  ~EditorTwin() override;

  // Creates the twin, loading its images from resourceFolder.
  bool Create(const std::string& resourceFolder, std::string& error);

  bool Start(double rate, int maxBlock, int precision, bool sidechain, std::string& error) override;
  bool SetState(const std::vector<uint8_t>& bytes, std::string& error) override;
  PluginSession* Follower() override { return mSession.get(); }
  void Stop() override;
  bool Write(PluginSession& rendered, const std::string& path, std::string& error) override;

private:
  std::unique_ptr<PluginSession> mSession;
  IFxVST3* mPlug = nullptr;  // kept alive by the session's references
};
