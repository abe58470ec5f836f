#include "TavloJackEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fx/IFxStateTail.h"
#include "fx/IParam.h"

TavloJackEngine::TavloJackEngine(IFxBase* pPlug) : mPlug(pPlug), mRunner(*pPlug)
{
  mPlug->AttachHost(this);
  mPlug->SetHost("tavlo-jack", 0);
  mPlug->OnHostIdentified();
  mCcMap = DefaultCcMap(mPlug->ParamCount());
  IFxBase::ParamBatch batch(*mPlug);
  mPlug->RestorePreset(0);
}

TavloJackEngine::~TavloJackEngine()
{
  mPlug->DeleteGraphics();
  mPlug->AttachHost(nullptr);
  mPlug.reset();
}

std::vector<int> TavloJackEngine::DefaultCcMap(int paramCount)
{
  // CC 20 to 31 and 102 to 119 are undefined in the MIDI standard; 20
  // upward leaves the common controllers (volume, modulation, sustain)
  // to whatever else listens on the same cable.
  std::vector<int> map(128, kNoParam);
  for (int i = 0; i < paramCount && 20 + i < 120; ++i) map[(size_t)(20 + i)] = i;
  return map;
}

void TavloJackEngine::SetCcMap(const std::vector<int>& paramOfCc)
{
  mCcMap.assign(128, kNoParam);
  for (size_t cc = 0; cc < 128 && cc < paramOfCc.size(); ++cc)
    if (paramOfCc[cc] >= 0 && paramOfCc[cc] < mPlug->ParamCount()) mCcMap[cc] = paramOfCc[cc];
}

void TavloJackEngine::SetUp(double sampleRate, int periodFrames)
{
  IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
  mPlug->SetSampleRate(sampleRate);
  mPlug->SetBlockSize(std::max(periodFrames, kMinScratchFrames));
  mPlug->Reset();
  mPlug->OnActivate(true);
  mPlug->TakeParamsForSetUp();
}

void TavloJackEngine::FitPeriod(int periodFrames)
{
  if (periodFrames <= mPlug->GetBlockSize()) return;
  IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
  mPlug->SetBlockSize(periodFrames);
}

void TavloJackEngine::ApplyMidi(const uint8_t* data, size_t size)
{
  if (!data || size < 2) return;
  const uint8_t status = data[0] & 0xF0;
  if (status == 0xB0 && size >= 3)
  {
    const int idx = mCcMap[data[1] & 0x7F];
    if (idx != kNoParam) mPlug->ApplyParamValue(idx, (data[2] & 0x7F) / 127.0, true);
  }
  else if (status == 0xC0)
  {
    const int program = data[1] & 0x7F;
    if (program >= mPlug->PresetCount()) return;
    IFxBase::AudioThreadBatch batch(*mPlug);
    if (!batch.Held())
    {
      // Another thread is writing a batch: the main thread chooses it.
      mPendingProgram.store(program, std::memory_order_release);
      return;
    }
    mPendingProgram.store(-1, std::memory_order_relaxed);
    mPlug->RestorePreset(program);
  }
}

bool TavloJackEngine::ChoosePreset(int idx)
{
  if (idx < 0 || idx >= mPlug->PresetCount()) return false;
  bool ok;
  {
    IFxBase::ParamBatch batch(*mPlug);
    ok = mPlug->RestorePreset(idx);
  }
  mPlug->RedrawParamControls();
  return ok;
}

bool TavloJackEngine::SaveState(std::vector<uint8_t>& bytes)
{
  ByteChunk chunk;
  {
    // A whole state, never half of one being restored on another thread.
    IFxBase::ParamBatch batch(*mPlug);
    if (!mPlug->SerializeState(&chunk)) return false;
    const int32_t bypass = mPlug->IsBypassed() ? 1 : 0;
    chunk.Append(bypass);
    IFxStateTail tail;
    if (mPlug->PresetCount() > 0) tail.preset = mPlug->GetCurrentPresetIdx();
    tail.AppendTo(chunk);
  }
  bytes.assign(chunk.Data(), chunk.Data() + chunk.Size());
  return true;
}

bool TavloJackEngine::LoadState(const std::vector<uint8_t>& bytes, std::string& error)
{
  ByteChunk chunk;
  mPlug->SerializeState(&chunk);
  const int size = chunk.Size();
  // The plug-in's bytes, the bypass word, then nothing or exactly a tail:
  // anything else is not a state of this plug-in.
  const int64_t got = (int64_t)bytes.size();
  if (size <= 0 || got < size + 4 || got > size + 4 + IFxStateTail::kHeaderSize + (int64_t)IFxStateTail::kMaxBody)
  {
    error = "not a Tavlo state (" + std::to_string(got) + " bytes)";
    return false;
  }
  int32_t bypass = 0;
  memcpy(&bypass, bytes.data() + size, sizeof(bypass));
  IFxStateTail tail;
  if ((bypass != 0 && bypass != 1) || (got > size + 4 && !tail.ReadFrom(bytes.data() + size + 4, got - size - 4)))
  {
    error = "not a Tavlo state (its end is not one)";
    return false;
  }
  // Every value a number: stored data that is not one came from elsewhere.
  for (int pos = 0; pos + (int)sizeof(double) <= size; pos += (int)sizeof(double))
  {
    double v;
    memcpy(&v, bytes.data() + pos, sizeof(v));
    if (!std::isfinite(v))
    {
      error = "not a Tavlo state (a value is no number)";
      return false;
    }
  }
  memcpy(chunk.Data(), bytes.data(), (size_t)size);
  {
    // The audio thread takes all of it at the start of a period, or none.
    IFxBase::ParamBatch batch(*mPlug);
    if (mPlug->UnserializeState(&chunk, 0) < 0)
    {
      error = "the state could not be restored";
      return false;
    }
    // The bypass word is a DAW's own bypass, which this program has not.
    const int n = mPlug->PresetCount();
    const int preset = tail.preset >= 0 && tail.preset < n ? tail.preset : mPlug->PresetMatchingValues();
    if (preset >= 0) mPlug->SetCurrentPresetIdx(preset);
  }
  mPlug->RedrawParamControls();
  return true;
}
