#pragma once

// --snapshot: the editor drawn as the render leaves it. A render drives the
// snapshot's maker alongside its own session, in this order: Start,
// SetState (when a state is loaded), the blocks through Follower() (when it
// is not null), Stop, Write.

#include <memory>
#include <string>
#include <vector>

#include "PluginSession.h"

class EditorSnapshot
{
public:
  virtual ~EditorSnapshot() {}

  // Whether snapshots can be drawn for a bundle of this class.
  static bool Supports(const Steinberg::TUID classId);
  // For the bundle whose module is at soPath (its images are drawn); null
  // with a message when it cannot be made.
  static std::unique_ptr<EditorSnapshot> Make(const std::string& soPath, std::string& error);

  virtual bool Start(double rate, int maxBlock, int precision, bool sidechain, std::string& error) = 0;
  virtual bool SetState(const std::vector<uint8_t>& bytes, std::string& error) = 0;
  // A session to be given every block the rendered one is, or null.
  virtual PluginSession* Follower() = 0;
  virtual void Stop() = 0;
  // Draws the editor of the rendered session as it stands to a PNG file.
  virtual bool Write(PluginSession& rendered, const std::string& path, std::string& error) = 0;
};
