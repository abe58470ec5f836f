// What the LV2 bundle tells a host about this plug-in: its URI (stable: a
// host's saved sessions refer to it), names and LV2 class.
#include "lv2/IFxLV2.h"
#include "tavlo/TavloParams.h"

const IFxLV2ClassDef& GetLV2ClassDef()
{
  static const IFxLV2ClassDef def = {
    "https://quillmarshworks.example/plugins/tavlo",
    kTavloEffectName,
    kTavloMfrName,
    kTavloVendorURL,
    kTavloVendorEmail,
    "CompressorPlugin",
    "http://spdx.org/licenses/GPL-3.0-or-later",
    "Stereo compressor: one Input control sets threshold and drive into a stored curve, "
    "with attack, release, mix, make-up gain, a detector high-pass, four-times oversampling "
    "and an external side-chain.",
    kTavloVersion,
    // The first LV2 release of the plug-in's interface.
    2,
    0,
  };
  return def;
}
