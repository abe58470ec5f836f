// What the module's factory tells a host about this plug-in before any
// instance exists.
#include "tavlo/TavloParams.h"
#include "vst3/IFxVST3Factory.h"

const IFxVST3ClassDef& GetVST3ClassDef()
{
  static const IFxVST3ClassDef def = {
    kTavloMfrName,
    kTavloVendorURL,
    kTavloVendorEmail,
    kTavloEffectName,
    "Fx|Dynamics",
    kTavloVersion,
    kTavloMfrID,
    kTavloUniqueID,
  };
  return def;
}
