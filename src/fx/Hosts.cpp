#include "fx/Hosts.h"

#include <cstring>

#include "fx/Log.h"
#include "kit/KitString.h"

namespace
{
struct HostKey
{
  const char* key;
  EHost host;
};

// Order matters: a name holding several keys resolves to the earliest, and
// short keys ("live", "logic") also match inside longer words.
const HostKey kHostKeys[] = {
  {"cubase", kHostCubase},         {"reaper", kHostReaper},
  {"nuendo", kHostNuendo},         {"cakewalk", kHostSonar},
  {"samplitude", kHostSamplitude}, {"fruity", kHostFL},
  {"live", kHostAbletonLive},      {"melodyne", kHostMelodyne},
  {"vstmanlib", kHostVSTScanner},  {"aulab", kHostAULab},
  {"garageband", kHostGarageBand}, {"forte", kHostForte},
  {"chainer", kHostChainer},       {"audition", kHostAudition},
  {"orion", kHostOrion},           {"sawstudio", kHostSAWStudio},
  {"logic", kHostLogic},           {"digital", kHostDigitalPerformer},
  {"audiomulch", kHostAudioMulch}, {"presonus", kHostStudioOne},
  {"vst3plugintesthost", kHostVST3TestHost},
  {"protools", kHostProTools},     {"ardour", kHostArdour},
  {"openmpt", kHostOpenMPT},       {"renoise", kHostRenoise},
  {"standalone", kHostStandalone},
};

const char* const kHostNames[] = {
  "Unknown",    "Reaper",     "ProTools",   "Cubase",      "Nuendo",     "Sonar",
  "Vegas",      "FLStudio",   "Samplitude", "Live",        "Unknown",    "Unknown",
  "Unknown",    "VSTScanner", "AULab",      "Forte",       "Chainer",    "Audition",
  "Orion",      "Unknown",    "SAWStudio",  "Logic",       "GarageBand", "DigitalPerformer",
  "Standalone", "AudioMulch", "StudioOne",  "VST3PluginTestHost", "Ardour", "Renoise",
  "OpenMPT",
};
} // namespace

EHost LookUpHost(const char* name)
{
  if (!name) return kHostUnknown;
  char lower[kMaxHostNameLen + 1];
  ToLower(lower, name, (int)sizeof(lower));
  for (const HostKey& k : kHostKeys)
    if (strstr(lower, k.key)) return k.host;
  return kHostUnknown;
}

void GetHostNameStr(int host, char* out, int capacity)
{
  const int n = (int)(sizeof(kHostNames) / sizeof(kHostNames[0]));
  KitStrCopy(out, (host >= 0 && host < n) ? kHostNames[host] : "Unknown", capacity);
}
