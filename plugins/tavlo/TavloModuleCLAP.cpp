// What the CLAP bundle tells a host about this plug-in: its ID (stable: a
// host's saved sessions refer to it), names and features.
#include "clap/IFxCLAPClassDef.h"
#include "tavlo/TavloParams.h"

const IFxCLAPClassDef& GetCLAPClassDef()
{
  static const char* const features[] = {"audio-effect", "compressor", "stereo", nullptr};
  static const IFxCLAPClassDef def = {
    "com.quillmarshworks.tavlo",
    kTavloEffectName,
    kTavloMfrName,
    kTavloVendorURL,
    "",
    "",
    "Stereo compressor: one Input control sets threshold and drive into a stored curve, "
    "with attack, release, mix, make-up gain, a detector high-pass, four-times oversampling "
    "and an external side-chain.",
    features,
    kTavloVersion,
    kBypass,
  };
  return def;
}
