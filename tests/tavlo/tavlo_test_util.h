#pragma once

#include <memory>

#include "fx/IParam.h"
#include "tavlo/Tavlo.h"

// Instances are reference-counted: give them back with release().
struct TavloReleaser
{
  void operator()(Tavlo* p) const
  {
    if (p) p->release();
  }
};
using TavloPtr = std::unique_ptr<Tavlo, TavloReleaser>;

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
