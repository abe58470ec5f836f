#pragma once

// A private interface of the VST 3 component: the plug-in's meters as it
// last published them (IFxBase::MeterCount and GetMeterValue). VST 3 has no
// way for a host to read a plug-in's meters, and a host that never asks for
// this interface never meets it; tavlo-render asks for it to draw the
// editor's snapshot after a render. Read-only and lock-free: it only reads
// what the audio thread published, from any thread, also once processing
// has stopped.

#include "pluginterfaces/base/funknown.h"

class IFxVST3Meters : public Steinberg::FUnknown
{
public:
  virtual Steinberg::int32 PLUGIN_API getMeterCount() = 0;
  // kInvalidArgument (value untouched) for a null value or an index out of
  // range.
  virtual Steinberg::tresult PLUGIN_API getMeterValue(Steinberg::int32 index, double* value) = 0;

  static const Steinberg::FUID iid;
};

DECLARE_CLASS_IID(IFxVST3Meters, 0xC34B310D, 0x3A584FEE, 0x8CE1CCA3, 0xA93F2ABF)
