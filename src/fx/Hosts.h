#pragma once

// The host applications the framework can tell apart by name.
enum EHost
{
  kHostUninit = -1,
  kHostUnknown = 0,
  kHostReaper = 1,
  kHostProTools = 2,
  kHostCubase = 3,
  kHostNuendo = 4,
  kHostSonar = 5,
  kHostVegas = 6,
  kHostFL = 7,
  kHostSamplitude = 8,
  kHostAbletonLive = 9,
  kHostReserved10 = 10,
  kHostReserved11 = 11,
  kHostMelodyne = 12,
  kHostVSTScanner = 13,
  kHostAULab = 14,
  kHostForte = 15,
  kHostChainer = 16,
  kHostAudition = 17,
  kHostOrion = 18,
  kHostReserved19 = 19,
  kHostSAWStudio = 20,
  kHostLogic = 21,
  kHostGarageBand = 22,
  kHostDigitalPerformer = 23,
  kHostStandalone = 24,
  kHostAudioMulch = 25,
  kHostStudioOne = 26,
  kHostVST3TestHost = 27,
  kHostArdour = 28,
  kHostRenoise = 29,
  kHostOpenMPT = 30
};

// Longest display name ("VST3PluginTestHost") plus terminator.
constexpr int kHostNameStrSize = 19;
// Characters of a host name that take part in the look-up.
constexpr int kMaxHostNameLen = 255;

// The host a name belongs to: the first of a fixed list of lower-case keys
// found anywhere in the lower-cased name (at most 255 characters of it), or
// kHostUnknown. A null name is unknown.
EHost LookUpHost(const char* name);

// Writes the display name of a host value ("Unknown" for values without
// one, -1 included), cut to capacity bytes with the terminator.
void GetHostNameStr(int host, char* out, int capacity);
