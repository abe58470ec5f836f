// The plug-in module's one entry point, lv2_descriptor: the C callbacks a
// host calls, each handed to the instance.
#include "lv2/IFxLV2.h"
#include "lv2/core/lv2.h"

namespace {

IFxLV2* Plug(LV2_Handle h) { return static_cast<IFxLV2*>(h); }

LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*)
{
  // No instance rather than one that sounds wrong: at 1 Hz the output gained
  // 9.5 dB, above 1e9 Hz nothing was compressed. NaN fails both tests.
  if (!(sampleRate >= IFxLV2::kMinSampleRate && sampleRate <= IFxLV2::kMaxSampleRate)) return nullptr;
  IFxBase* plug = MakePlug();
  if (!plug) return nullptr;
  IFxLV2* binding = new IFxLV2(plug);
  binding->Instantiate(sampleRate);
  return binding;
}

void ConnectPort(LV2_Handle h, uint32_t port, void* data) { Plug(h)->ConnectPort(port, data); }
void Activate(LV2_Handle h) { Plug(h)->Activate(); }
void Run(LV2_Handle h, uint32_t nFrames) { Plug(h)->Run(nFrames); }
void Deactivate(LV2_Handle h) { Plug(h)->Deactivate(); }
void Cleanup(LV2_Handle h) { delete Plug(h); }
const void* ExtensionData(const char*) { return nullptr; }

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
  static const LV2_Descriptor descriptor = {
    GetLV2ClassDef().uri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData,
  };
  return index == 0 ? &descriptor : nullptr;
}
