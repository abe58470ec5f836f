// Writes the Turtle files of the bundle from the plug-in linked with it:
//   <tool> FOLDER PLUGIN_BINARY UI_BINARY
#include <cstdio>
#include <memory>
#include <string>

#include "lv2/IFxLV2.h"
#include "lv2/IFxLV2Turtle.h"

int main(int argc, char** argv)
{
  if (argc != 4)
  {
    fprintf(stderr, "usage: %s FOLDER PLUGIN_BINARY UI_BINARY\n", argc > 0 ? argv[0] : "lv2-turtle");
    return 2;
  }
  IFxBase* made = MakePlug();
  std::unique_ptr<IFxLV2> plug(made ? new IFxLV2(made) : nullptr);
  if (!plug)
  {
    fprintf(stderr, "the plug-in could not be created\n");
    return 1;
  }
  IFxLV2BundleNames names;
  names.binary = argv[2];
  names.uiBinary = argv[3];
  std::string error;
  if (!IFxLV2Turtle(*plug, GetLV2ClassDef(), names).WriteAll(argv[1], &error))
  {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
