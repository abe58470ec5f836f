#pragma once

#include <memory>

#include "fx/IParam.h"
#include "tavlo/Tavlo.h"

using TavloPtr = std::unique_ptr<Tavlo>;

// A new instance with preset 0 restored, as a host's initialisation leaves it.
inline TavloPtr MakeRestoredTavlo()
{
  TavloPtr plug(static_cast<Tavlo*>(MakePlug()));
  plug->RestorePreset(0);
  return plug;
}

// The parameter changed as the editor would change it.
inline void SetPlain(Tavlo* plug, int idx, double plain)
{
  plug->ParamAt(idx)->SetValue(plain);
  plug->OnParamChange(idx);
}
