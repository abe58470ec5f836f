#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fx/Hosts.h"

namespace
{
std::string Name(int host)
{
  char buf[kHostNameStrSize];
  GetHostNameStr(host, buf, sizeof(buf));
  return buf;
}
} // namespace

TEST(LookUpHost, NamesFromTheField)
{
  EXPECT_EQ(kHostCubase, LookUpHost("Cubase 8"));
  EXPECT_EQ(kHostCubase, LookUpHost("CUBASE"));
  EXPECT_EQ(kHostNuendo, LookUpHost("Steinberg Nuendo"));
  EXPECT_EQ(kHostCubase, LookUpHost("Nuendo and Cubase bundle")); // earliest key wins
  EXPECT_EQ(kHostStudioOne, LookUpHost("PreSonus Studio One"));
  EXPECT_EQ(kHostMelodyne, LookUpHost("Melodyne"));
  EXPECT_EQ(kHostArdour, LookUpHost("Ardour"));
  EXPECT_EQ(kHostVST3TestHost, LookUpHost("VST3PluginTestHost"));
  EXPECT_EQ(kHostReaper, LookUpHost("REAPER64"));
  EXPECT_EQ(kHostUnknown, LookUpHost(""));
  EXPECT_EQ(kHostUnknown, LookUpHost(nullptr));
  EXPECT_EQ(kHostUnknown, LookUpHost("Bitwig Studio"));
  EXPECT_EQ(kHostUnknown, LookUpHost("JUCE AudioPluginHost"));
}

TEST(LookUpHost, EveryKeyInItsOrder)
{
  const struct
  {
    const char* name;
    int host;
  } cases[] = {
    {"xCuBaSe", 3},       {"Reaper", 1},         {"Nuendo", 4},          {"Cakewalk Sonar", 5},
    {"Samplitude Pro", 8}, {"Fruity Loops", 7},  {"Ableton Live 11", 9}, {"MELODYNE", 12},
    {"vstmanlib", 13},    {"AU Lab", 0},         {"AULab", 14},          {"GarageBand", 22},
    {"Forte", 15},        {"Chainer", 16},       {"Adobe Audition", 17}, {"Orion", 18},
    {"SAWStudio", 20},    {"Logic Pro X", 21},   {"Digital Performer", 23},
    {"AudioMulch", 25},   {"PreSonus", 26},      {"ProTools", 2},        {"Pro Tools", 0},
    {"OpenMPT", 30},      {"Renoise", 29},       {"Standalone", 24},
  };
  for (const auto& c : cases) EXPECT_EQ(c.host, LookUpHost(c.name)) << c.name;
}

TEST(LookUpHost, ShortKeysMatchInsideWordsAndOrderDecides)
{
  EXPECT_EQ(kHostAbletonLive, LookUpHost("Oliver's Deliverance"));
  EXPECT_EQ(kHostLogic, LookUpHost("Technological"));
  EXPECT_EQ(kHostAbletonLive, LookUpHost("Logic Live")); // "live" is tested before "logic"
  EXPECT_EQ(kHostReaper, LookUpHost("reaper on ardour")); // "reaper" before "ardour"
  EXPECT_EQ(kHostOrion, LookUpHost("Digital Orion")); // "orion" is tested before "digital"
}

TEST(LookUpHost, NamesAreCutAt255CharactersBeforeMatching)
{
  std::string pad(240, 'x');
  EXPECT_EQ(kHostCubase, LookUpHost((pad + "cubase").c_str())); // ends at 246

  std::string straddle(252, 'x');
  straddle += "reaper"; // characters 252..257: cut at 255
  EXPECT_EQ(kHostUnknown, LookUpHost(straddle.c_str()));

  std::string far(5000, 'y');
  far += "ARDOUR";
  EXPECT_EQ(kHostUnknown, LookUpHost(far.c_str()));

  std::string exact(249, 'z');
  exact += "ardour"; // exactly 255 characters
  EXPECT_EQ(kHostArdour, LookUpHost(exact.c_str()));
}

TEST(HostNames, DisplayNames)
{
  EXPECT_EQ("Unknown", Name(-1));
  EXPECT_EQ("Unknown", Name(0));
  EXPECT_EQ("Reaper", Name(1));
  EXPECT_EQ("Sonar", Name(5));
  EXPECT_EQ("Vegas", Name(6));
  EXPECT_EQ("FLStudio", Name(7));
  EXPECT_EQ("Live", Name(9));
  EXPECT_EQ("Unknown", Name(10));
  EXPECT_EQ("Unknown", Name(11));
  EXPECT_EQ("Unknown", Name(12));
  EXPECT_EQ("Unknown", Name(19));
  EXPECT_EQ("DigitalPerformer", Name(23));
  EXPECT_EQ("StudioOne", Name(LookUpHost("PreSonus Studio One")));
  EXPECT_EQ("VST3PluginTestHost", Name(27));
  EXPECT_EQ("Ardour", Name(28));
  EXPECT_EQ("OpenMPT", Name(30));
  EXPECT_EQ("Unknown", Name(31));
  EXPECT_EQ("Unknown", Name(-7));
}

TEST(HostNames, CutToTheCallersCapacity)
{
  char buf[10];
  memset(buf, 'Z', sizeof(buf));
  GetHostNameStr(kHostVST3TestHost, buf, 5);
  EXPECT_STREQ("VST3", buf);
  EXPECT_EQ('Z', buf[5]);
  GetHostNameStr(kHostVST3TestHost, nullptr, 5); // no buffer: nothing happens
}
