#include "lv2/IFxLV2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fx/IParam.h"

IFxLV2::IFxLV2(IFxBase* pPlug) : mPlug(pPlug), mRunner(*pPlug)
{
  mPlug->AttachHost(this);
  mIn.assign((size_t)mPlug->InputChannelCount(), nullptr);
  mOut.assign((size_t)mPlug->OutputChannelCount(), nullptr);
}

IFxLV2::~IFxLV2()
{
  mPlug->AttachHost(nullptr);
}

// ---------------------------------------------------------------------------
// The plug-in's host

void IFxLV2::BeginInformHostOfParamChange(int idx)
{
  if (mEditSink) mEditSink->BeginEdit(Ports().ParamPort(idx));
}

void IFxLV2::InformHostOfParamChange(int idx, double)
{
  // Ports carry plain values; the parameter already holds the new one.
  if (mEditSink && mPlug->ParamAt(idx))
    mEditSink->Edit(Ports().ParamPort(idx), (float)mPlug->ParamAt(idx)->GetValue());
}

void IFxLV2::EndInformHostOfParamChange(int idx)
{
  if (mEditSink) mEditSink->EndEdit(Ports().ParamPort(idx));
}

void IFxLV2::GetTime(ITimeInfo* pTimeInfo)
{
  if (pTimeInfo) *pTimeInfo = ITimeInfo();
}

// The editor has one fixed size, announced when the UI opens.
void IFxLV2::ResizeGraphics(int, int) {}

const IFxLV2Ports& IFxLV2::Ports()
{
  if (!mPorts) mPorts.reset(new IFxLV2Ports(*mPlug, mPlug->SidechainChannelCount()));
  return *mPorts;
}

// ---------------------------------------------------------------------------
// The plug-in

void IFxLV2::Instantiate(double sampleRate)
{
  const uint32_t n = Ports().Count();
  mPortData.assign(n, nullptr);
  mLastControl.assign(n, 0.0f);
  mHaveLastControl.assign(n, 0);
  mPlug->SetSampleRate(sampleRate);
  mPlug->SetBlockSize(kBlockFrames);
  mPlug->Reset();
  // LV2 hosts do not say who they are.
  mPlug->SetHost("", 0);
  mPlug->OnHostIdentified();
  IFxBase::ParamBatch batch(*mPlug);
  mPlug->RestorePreset(0);
}

void IFxLV2::ConnectPort(uint32_t port, void* data)
{
  if (port < mPortData.size()) mPortData[port] = static_cast<float*>(data);
}

// LV2 never runs an instance while it is activated or deactivated; the gate
// is closed all the same, as for every binding.
void IFxLV2::Activate()
{
  IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
  mPlug->OnActivate(true);
  // A host may have changed values while the plug-in was inactive, and
  // expects a fresh start: every control port counts as changed.
  std::fill(mHaveLastControl.begin(), mHaveLastControl.end(), 0);
}

void IFxLV2::Deactivate()
{
  IFxBlockGate::Closed noBlocks(mPlug->BlockGate());
  mPlug->OnActivate(false);
}

bool IFxLV2::ApplyControlValue(int idx, float value)
{
  return mPlug->ApplyParamValue(idx, value, false);
}

void IFxLV2::ReadControlPorts()
{
  const IFxLV2Ports& ports = *mPorts;
  for (int i = 0, n = mPlug->ParamCount(); i < n; ++i)
  {
    const size_t port = ports.ParamPort(i);
    const float* p = mPortData[port];
    if (!p) continue;
    const float v = *p;
    // Only changes are applied: a host holding an out-of-range value costs
    // one clamp, not one per run. NaN is never taken as the last value, so
    // the next real one applies.
    if (std::isnan(v) || (mHaveLastControl[port] && v == mLastControl[port])) continue;
    mLastControl[port] = v;
    mHaveLastControl[port] = 1;
    ApplyControlValue(i, v);
  }

  // The host's bypass, as a VST 3 host's bypass parameter: the plug-in
  // passes its input through untouched while disabled. Any value above 0
  // enables, as a toggle port is read.
  if (const float* p = mPortData[ports.EnabledPort()])
    if (!std::isnan(*p)) mPlug->SetBypassed(!(*p > 0.0f));
}

void IFxLV2::WriteMeters()
{
  if (mPorts->LatencyPort() < mPortData.size())
    if (float* p = mPortData[mPorts->LatencyPort()]) *p = (float)mPlug->GetLatency();
  for (int m = 0, n = mPlug->MeterCount(); m < n; ++m)
  {
    float* p = mPortData[mPorts->MeterPort(m)];
    if (!p) continue;
    const IFxMeterInfo info = mPlug->GetMeterInfo(m);
    const double v = mPlug->GetMeterValue(m);
    *p = (float)(std::isfinite(v) ? std::min(info.maximum, std::max(info.minimum, v)) : info.rest);
  }
}

void IFxLV2::Run(uint32_t nFrames)
{
  // A run before instantiation has nothing to work with.
  if (!mPorts || mPortData.size() != mPorts->Count()) return;
  // Input channels are the main inputs followed by the side-chain, in port
  // order, then the outputs; an unconnected one is null.
  const uint32_t firstAudio = mPorts->FirstAudioPort();
  for (size_t c = 0; c < mIn.size(); ++c) mIn[c] = mPortData[firstAudio + c];
  for (size_t c = 0; c < mOut.size(); ++c) mOut[c] = mPortData[firstAudio + mIn.size() + c];
  IFxBlockGate::Entered inBlock(mPlug->BlockGate());
  // Another thread is setting the instance up: silence, rather than what
  // the host's buffers held.
  if (!inBlock)
  {
    mRunner.Silence(mOut.data(), (int)nFrames);
    return;
  }
  ReadControlPorts();
  mRunner.Run(mIn.data(), mOut.data(), (int)nFrames);
  WriteMeters();
}

bool IFxLV2::PortEvent(uint32_t port, float value)
{
  const IFxLV2Port* p = Ports().At(port);
  if (!p) return false;
  if (p->kind == IFxLV2Port::kParam) return ApplyControlValue(p->index, value);
  // A meter the editor shows: its next tick draws the value.
  if (p->kind == IFxLV2Port::kMeter && std::isfinite(value))
    return mPlug->GetMeterInfo(p->index).controlIdx >= 0 && mPlug->SetMeterValue(p->index, value);
  return false;
}
