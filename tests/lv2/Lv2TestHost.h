#pragma once

// A small LV2 host of the tests' own, on lilv: the built bundle is linked
// into a temporary folder that becomes LV2_PATH, so the plug-in is found by
// URI exactly as a host finds it, and nothing else installed on the machine
// is seen.

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lv2host {

constexpr char kTavloUri[] = "https://quillmarshworks.example/plugins/tavlo";

class World
{
public:
  // specs: bundles of LV2 specifications to see as well (a host's LV2_PATH
  // has them; lilv takes the plug-in classes from core.lv2).
  explicit World(const std::string& bundle, const std::vector<std::string>& specs = {});
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  LilvWorld* Get() const { return mWorld; }
  // The plug-in with that URI, or null.
  const LilvPlugin* Plugin(const char* uri = kTavloUri) const;
  // A node the world frees at the end.
  const LilvNode* Uri(const std::string& uri);
  const std::string& Folder() const { return mFolder; }
  // The URID map every instance is given, as hosts give one.
  LV2_URID_Map* Map() { return &mMap; }
  LV2_URID_Unmap* Unmap() { return &mUnmap; }

private:
  std::vector<std::string> mUris;  // URID n is mUris[n - 1]
  LV2_URID_Map mMap;
  LV2_URID_Unmap mUnmap;
  std::string mFolder;
  std::vector<std::string> mLinks;
  LilvWorld* mWorld = nullptr;
  std::vector<LilvNode*> mNodes;
};

// The string of a node (an URI, literal or file path), "" for null.
std::string Str(const LilvNode* node);

// One instance with a buffer for every port, all connected: a float per
// control port (starting at its default) and frames per audio port.
class Instance
{
public:
  Instance(World& world, const LilvPlugin* plugin, double rate = 48000.0, int maxFrames = 8192);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  explicit operator bool() const { return mInstance != nullptr; }
  LilvInstance* Get() const { return mInstance; }

  // Port index by symbol; -1 when there is none.
  int Port(const char* symbol) const;
  float& Control(const char* symbol);
  float* Audio(const char* symbol);
  // Connects a port to nothing (null) or back to its buffer.
  void Connect(const char* symbol, bool connected);

  void Activate();
  void Deactivate();
  void Run(int frames);

private:
  const LilvPlugin* mPlugin;
  LilvInstance* mInstance = nullptr;
  bool mActive = false;
  int mMaxFrames;
  std::vector<std::string> mSymbols;
  std::vector<std::vector<float>> mBuffers;
};

}  // namespace lv2host
