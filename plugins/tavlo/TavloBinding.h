#pragma once

// The plug-in format this compilation of Tavlo serves. The plug-in class is
// written once; each module target compiles it with its own binding base
// (TAVLO_FORMAT_LV2 for the LV2 bundle, the VST 3 binding otherwise).

#if defined(TAVLO_FORMAT_LV2)
#include "lv2/IFxLV2.h"
using TavloBinding = IFxLV2;
#else
#include "vst3/IFxVST3.h"
using TavloBinding = IFxVST3;
#endif
