// The plug-in module's one entry point, lv2_descriptor: the C callbacks a
// host calls, each handed to the instance.
#include <cstring>
#include <string>

#include "fx/ByteChunk.h"
#include "fx/IFxStateTail.h"
#include "lv2/IFxLV2.h"
#include "lv2/atom/atom.h"
#include "lv2/core/lv2.h"
#include "lv2/state/state.h"
#include "lv2/urid/urid.h"

namespace {

IFxLV2* Plug(LV2_Handle h) { return static_cast<IFxLV2*>(h); }

LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const* features)
{
  // No instance rather than one that sounds wrong: at 1 Hz the output gained
  // 9.5 dB, above 1e9 Hz nothing was compressed. NaN fails both tests.
  if (!(sampleRate >= IFxLV2::kMinSampleRate && sampleRate <= IFxLV2::kMaxSampleRate)) return nullptr;
  IFxBase* plug = MakePlug();
  if (!plug) return nullptr;
  IFxLV2* binding = new IFxLV2(plug);
  binding->Instantiate(sampleRate);
  for (int i = 0; features && features[i]; ++i)
    if (!strcmp(features[i]->URI, LV2_URID__map) && features[i]->data)
    {
      const LV2_URID_Map* map = static_cast<const LV2_URID_Map*>(features[i]->data);
      const std::string key = std::string(GetLV2ClassDef().uri) + "#slots";
      binding->SetStateUrids(map->map(map->handle, key.c_str()), map->map(map->handle, LV2_ATOM__Chunk));
    }
  return binding;
}

void ConnectPort(LV2_Handle h, uint32_t port, void* data) { Plug(h)->ConnectPort(port, data); }
void Activate(LV2_Handle h) { Plug(h)->Activate(); }
void Run(LV2_Handle h, uint32_t nFrames) { Plug(h)->Run(nFrames); }
void Deactivate(LV2_Handle h) { Plug(h)->Deactivate(); }
void Cleanup(LV2_Handle h) { delete Plug(h); }
// The A/B slots, as the tail of a VST 3 or CLAP state holds them (the slot
// shown and the other one's values): the values shown are the ports'.
LV2_State_Status Save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const*)
{
  IFxLV2* binding = Plug(h);
  if (!binding->SlotsKey()) return LV2_STATE_ERR_NO_FEATURE;
  IFxStateTail slots;
  binding->Plug()->GetSlots(&slots);
  ByteChunk bytes;
  slots.AppendTo(bytes);
  return store(handle, binding->SlotsKey(), bytes.Data(), (size_t)bytes.Size(), binding->ChunkType(),
               LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const*)
{
  IFxLV2* binding = Plug(h);
  if (!binding->SlotsKey()) return LV2_STATE_ERR_NO_FEATURE;
  size_t size = 0;
  uint32_t type = 0, flags = 0;
  const void* data = retrieve(handle, binding->SlotsKey(), &size, &type, &flags);
  // A session from before the slots: both hold what the ports hold.
  IFxStateTail slots;
  if (data && type == binding->ChunkType() && !slots.ReadFrom(static_cast<const unsigned char*>(data), (int64_t)size))
    return LV2_STATE_ERR_BAD_TYPE;
  binding->Plug()->SetSlots(slots);
  return LV2_STATE_SUCCESS;
}

const void* ExtensionData(const char* uri)
{
  static const LV2_State_Interface state = {Save, Restore};
  return uri && !strcmp(uri, LV2_STATE__interface) ? &state : nullptr;
}

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
  static const LV2_Descriptor descriptor = {
    GetLV2ClassDef().uri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData,
  };
  return index == 0 ? &descriptor : nullptr;
}
