#include "Lv2TestHost.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "lv2/core/lv2.h"

namespace lv2host {

World::World(const std::string& bundle, const std::vector<std::string>& specs)
{
  mMap = {this, [](LV2_URID_Map_Handle h, const char* uri) -> LV2_URID {
            std::vector<std::string>& uris = static_cast<World*>(h)->mUris;
            for (size_t i = 0; i < uris.size(); ++i)
              if (uris[i] == uri) return (LV2_URID)(i + 1);
            uris.push_back(uri);
            return (LV2_URID)uris.size();
          }};
  mUnmap = {this, [](LV2_URID_Unmap_Handle h, LV2_URID id) -> const char* {
              const std::vector<std::string>& uris = static_cast<World*>(h)->mUris;
              return id >= 1 && id <= uris.size() ? uris[id - 1].c_str() : nullptr;
            }};
  char folder[] = "/tmp/tavlo-lv2-path-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("no temporary folder");
  mFolder = folder;
  std::vector<std::string> all = specs;
  all.push_back(bundle);
  for (const std::string& b : all)
  {
    const size_t slash = b.find_last_of('/');
    mLinks.push_back(mFolder + "/" + (slash == std::string::npos ? b : b.substr(slash + 1)));
    if (symlink(b.c_str(), mLinks.back().c_str()) != 0) throw std::runtime_error("cannot link " + b);
  }
  setenv("LV2_PATH", mFolder.c_str(), 1);
  mWorld = lilv_world_new();
  lilv_world_load_all(mWorld);
}

World::~World()
{
  for (LilvNode* n : mNodes) lilv_node_free(n);
  lilv_world_free(mWorld);
  for (const std::string& link : mLinks) unlink(link.c_str());
  rmdir(mFolder.c_str());
}

const LilvPlugin* World::Plugin(const char* uri) const
{
  LilvNode* node = lilv_new_uri(mWorld, uri);
  const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(mWorld), node);
  lilv_node_free(node);
  return p;
}

const LilvNode* World::Uri(const std::string& uri)
{
  mNodes.push_back(lilv_new_uri(mWorld, uri.c_str()));
  return mNodes.back();
}

std::string Str(const LilvNode* node)
{
  if (!node) return "";
  if (lilv_node_is_uri(node)) return lilv_node_as_uri(node);
  return lilv_node_as_string(node) ? lilv_node_as_string(node) : "";
}

Instance::Instance(World& world, const LilvPlugin* plugin, double rate, int maxFrames)
  : mPlugin(plugin), mMaxFrames(maxFrames)
{
  if (!plugin) return;
  const LV2_Feature map = {LV2_URID__map, world.Map()};
  const LV2_Feature* features[] = {&map, nullptr};
  mInstance = lilv_plugin_instantiate(plugin, rate, features);
  if (!mInstance) return;
  const uint32_t n = lilv_plugin_get_num_ports(plugin);
  std::vector<float> defaults(n, 0.0f);
  lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
  const LilvNode* audioClass = world.Uri(LV2_CORE__AudioPort);
  mSymbols.resize(n);
  mBuffers.resize(n);
  for (uint32_t i = 0; i < n; ++i)
  {
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
    mSymbols[i] = Str(lilv_port_get_symbol(plugin, port));
    if (lilv_port_is_a(plugin, port, audioClass))
      mBuffers[i].assign((size_t)maxFrames, 0.0f);
    else
      mBuffers[i].assign(1, std::isnan(defaults[i]) ? 0.0f : defaults[i]);
    lilv_instance_connect_port(mInstance, i, mBuffers[i].data());
  }
}

Instance::~Instance()
{
  if (!mInstance) return;
  if (mActive) lilv_instance_deactivate(mInstance);
  lilv_instance_free(mInstance);
}

int Instance::Port(const char* symbol) const
{
  for (size_t i = 0; i < mSymbols.size(); ++i)
    if (mSymbols[i] == symbol) return (int)i;
  return -1;
}

float& Instance::Control(const char* symbol)
{
  const int i = Port(symbol);
  if (i < 0) throw std::runtime_error(std::string("no port ") + symbol);
  return mBuffers[(size_t)i][0];
}

float* Instance::Audio(const char* symbol)
{
  const int i = Port(symbol);
  if (i < 0) throw std::runtime_error(std::string("no port ") + symbol);
  return mBuffers[(size_t)i].data();
}

void Instance::Connect(const char* symbol, bool connected)
{
  const int i = Port(symbol);
  if (i < 0) throw std::runtime_error(std::string("no port ") + symbol);
  lilv_instance_connect_port(mInstance, (uint32_t)i, connected ? mBuffers[(size_t)i].data() : nullptr);
}

void Instance::Activate()
{
  if (!mActive) lilv_instance_activate(mInstance);
  mActive = true;
}

void Instance::Deactivate()
{
  if (mActive) lilv_instance_deactivate(mInstance);
  mActive = false;
}

void Instance::Run(int frames)
{
  Activate();
  if (frames > mMaxFrames) throw std::runtime_error("more frames than the buffers hold");
  lilv_instance_run(mInstance, (uint32_t)frames);
}

}  // namespace lv2host
