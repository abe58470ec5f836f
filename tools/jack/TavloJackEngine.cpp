#include "TavloJackEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fx/IFxWholeState.h"
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
  if (!IFxWholeState::Save(*mPlug, chunk)) return false;
  bytes.assign(chunk.Data(), chunk.Data() + chunk.Size());
  return true;
}

bool TavloJackEngine::LoadState(const std::vector<uint8_t>& bytes, std::string& error)
{
  // The bypass word is a DAW's own bypass, which this program has not.
  if (!IFxWholeState::Load(*mPlug, bytes.data(), (int64_t)bytes.size()))
  {
    error = "not a Tavlo state of this version (" + std::to_string(bytes.size()) + " bytes)";
    return false;
  }
  mPlug->RedrawParamControls();
  return true;
}
