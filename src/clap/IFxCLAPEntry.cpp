// The module's one exported symbol, clap_entry, and its plug-in factory.

#include <cstdio>
#include <cstring>

#include "clap/entry.h"
#include "clap/IFxCLAP.h"
#include "clap/plugin-factory.h"
#include "clap/version.h"
#include "graphics/IGraphics.h"

bool InitModule();
bool DeinitModule();

namespace {

// "3.3.0" from the packed version.
const char* VersionText()
{
  static char text[32];
  int major = 0, minor = 0, bugFix = 0;
  IFxBase::GetVersionParts(GetCLAPClassDef().vendorVersion, &major, &minor, &bugFix);
  snprintf(text, sizeof(text), "%d.%d.%d", major, minor, bugFix);
  return text;
}

const clap_plugin_descriptor_t* Descriptor()
{
  static const clap_plugin_descriptor_t desc = []
  {
    const IFxCLAPClassDef& def = GetCLAPClassDef();
    clap_plugin_descriptor_t d = {};
    d.clap_version = CLAP_VERSION_INIT;
    d.id = def.id;
    d.name = def.name;
    d.vendor = def.vendor;
    d.url = def.url;
    d.manual_url = def.manualUrl;
    d.support_url = def.supportUrl;
    d.version = VersionText();
    d.description = def.description;
    d.features = const_cast<const char**>(def.features);
    return d;
  }();
  return &desc;
}

uint32_t PluginCount(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* PluginDescriptor(const clap_plugin_factory_t*, uint32_t index)
{
  return index == 0 ? Descriptor() : nullptr;
}

const clap_plugin_t* CreatePlugin(const clap_plugin_factory_t*, const clap_host_t* host, const char* id)
{
  if (!host || !id || strcmp(id, Descriptor()->id) != 0 || !clap_version_is_compatible(host->clap_version))
    return nullptr;
  IFxBase* plug = MakePlug();
  if (!plug) return nullptr;
  return (new IFxCLAP(plug, host, Descriptor(), MakeEditor))->Clap();
}

const clap_plugin_factory_t kFactory = {PluginCount, PluginDescriptor, CreatePlugin};

bool EntryInit(const char*) { return InitModule(); }
void EntryDeinit() { DeinitModule(); }

const void* EntryGetFactory(const char* id)
{
  return id && !strcmp(id, CLAP_PLUGIN_FACTORY_ID) ? &kFactory : nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, EntryInit, EntryDeinit,
                                                               EntryGetFactory};
