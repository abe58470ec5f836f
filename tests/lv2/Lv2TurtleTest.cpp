#include <gtest/gtest.h>

#include <string>

#include "fx/IFxBase.h"
#include "fx/IParam.h"
#include "fx/IParamUnit.h"
#include "lv2/IFxLV2.h"
#include "lv2/IFxLV2Turtle.h"

namespace {

const char* const kNames[] = {"Peak", "RMS", "Slow"};
const IParamUnit kListUnit = {"", 1.0, 0, nullptr, nullptr, "how it listens", false, kNames, 3};

class ListPlug : public IFxBase
{
public:
  ListPlug()
    : IFxBase(1, "2-2", 1, "Named", "", "Vendor", 0x010000, 0x4e616d31, 0x56656e64, 0, false, false, false, kAPISA, 0)
  {
    ParamAt(0)->InitEnum("List", 1, 3);
    ParamAt(0)->SetUnit(&kListUnit);
  }
};

}  // namespace

// Each of a list's names is a scale point at its value, so that a host's
// generic view offers the names.
TEST(Lv2Turtle, AListsNamesAreScalePoints)
{
  IFxLV2 plug(new ListPlug());
  const IFxLV2ClassDef def = {"urn:test:named", "Named", "Vendor", "https://v.example", "a@v.example",
                              "CompressorPlugin", "urn:test:licence", "", 0x010000, 0, 1};
  const std::string ttl = IFxLV2Turtle(plug, def, IFxLV2BundleNames()).Plugin();
  EXPECT_NE(std::string::npos,
            ttl.find("\t\tlv2:default 1.0 ;\n\t\tlv2:minimum 0.0 ;\n\t\tlv2:maximum 2.0 ;\n"
                     "\t\tlv2:portProperty lv2:integer , lv2:enumeration ;\n"
                     "\t\tlv2:scalePoint [\n\t\t\trdfs:label \"Peak\" ;\n\t\t\trdf:value 0.0\n"
                     "\t\t] , [\n\t\t\trdfs:label \"RMS\" ;\n\t\t\trdf:value 1.0\n"
                     "\t\t] , [\n\t\t\trdfs:label \"Slow\" ;\n\t\t\trdf:value 2.0\n\t\t] ;\n"
                     "\t\trdfs:comment \"how it listens\" ;\n"))
    << ttl;
}
