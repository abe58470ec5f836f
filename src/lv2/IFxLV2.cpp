#include "lv2/IFxLV2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fx/IParam.h"

IFxLV2::IFxLV2(IFxInstanceInfo, int nParams, const char* channelIOStr, int nPresets, const char* effectName,
               const char* productName, const char* mfrName, int vendorVersion, int uniqueID, int mfrID,
               int latency, bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst, int plugScChans)
  : IFxBase(nParams, channelIOStr, nPresets, effectName, productName, mfrName, vendorVersion, uniqueID, mfrID,
            latency, plugDoesMidi, plugDoesChunks, plugIsInst, kAPILV2),
    mSideChainChannels(plugScChans)
{
  const int nIn = InputChannelCount(), nOut = OutputChannelCount();
  SetInputChannelConnections(0, nIn, true);
  SetOutputChannelConnections(0, nOut, true);
  if (nIn > 0) MakeDelayLine(nIn, nOut, latency);
  mInFromHost.assign((size_t)nIn, 0);
}

IFxLV2::~IFxLV2() {}

// ---------------------------------------------------------------------------
// Framework hooks

void IFxLV2::BeginInformHostOfParamChange(int idx)
{
  if (mEditSink) mEditSink->BeginEdit((uint32_t)idx);
}

void IFxLV2::InformHostOfParamChange(int idx, double)
{
  // Ports carry plain values; the parameter already holds the new one.
  if (mEditSink && ParamAt(idx)) mEditSink->Edit((uint32_t)idx, (float)ParamAt(idx)->GetValue());
}

void IFxLV2::EndInformHostOfParamChange(int idx)
{
  if (mEditSink) mEditSink->EndEdit((uint32_t)idx);
}

void IFxLV2::GetTimeSig(int* pNum, int* pDenom)
{
  if (pNum) *pNum = 0;
  if (pDenom) *pDenom = 0;
}

void IFxLV2::GetTime(ITimeInfo* pTimeInfo)
{
  if (pTimeInfo) *pTimeInfo = ITimeInfo();
}

// The editor has one fixed size, announced when the UI opens.
void IFxLV2::ResizeGraphics(int, int) {}

const IFxLV2Ports& IFxLV2::Ports()
{
  if (!mPorts) mPorts.reset(new IFxLV2Ports(*this, mSideChainChannels));
  return *mPorts;
}

// ---------------------------------------------------------------------------
// The plug-in

void IFxLV2::Instantiate(double sampleRate)
{
  KitMutexLock lock(&mMutex);
  const uint32_t n = Ports().Count();
  mPortData.assign(n, nullptr);
  mLastControl.assign(n, 0.0f);
  mHaveLastControl.assign(n, 0);
  SetSampleRate(sampleRate);
  SetBlockSize(kBlockFrames);
  Reset();
  // LV2 hosts do not say who they are.
  SetHost("", 0);
  OnHostIdentified();
  RestorePreset(0);
}

void IFxLV2::ConnectPort(uint32_t port, void* data)
{
  if (port < mPortData.size()) mPortData[port] = static_cast<float*>(data);
}

void IFxLV2::Activate()
{
  OnActivate(true);
  // A host may have changed values while the plug-in was inactive, and
  // expects a fresh start: every control port counts as changed.
  KitMutexLock lock(&mMutex);
  std::fill(mHaveLastControl.begin(), mHaveLastControl.end(), 0);
}

void IFxLV2::Deactivate()
{
  OnActivate(false);
}

bool IFxLV2::ApplyControlValue(int idx, float value)
{
  IParam* pParam = ParamAt(idx);
  if (!pParam || std::isnan(value)) return false;
  KitMutexLock lock(&mMutex);
  if ((float)pParam->GetValue() == value) return false;
  pParam->SetPlain(value);
  if (IFxEditor* pEditor = GetGraphics()) pEditor->SetParameterFromPlug(idx, pParam->GetNormalized(), true);
  OnParamChange(idx);
  return true;
}

void IFxLV2::ReadControlPorts()
{
  const IFxLV2Ports& ports = *mPorts;
  for (int i = 0, n = ParamCount(); i < n; ++i)
  {
    const float* p = mPortData[(size_t)i];
    if (!p) continue;
    const float v = *p;
    // Only changes are applied: a host holding an out-of-range value costs
    // one clamp, not one per run. NaN is never taken as the last value, so
    // the next real one applies.
    if (std::isnan(v) || (mHaveLastControl[(size_t)i] && v == mLastControl[(size_t)i])) continue;
    mLastControl[(size_t)i] = v;
    mHaveLastControl[(size_t)i] = 1;
    ApplyControlValue(i, v);
  }

  // The host's bypass, as a VST 3 host's bypass parameter: the plug-in
  // passes its input through untouched while disabled. Any value above 0
  // enables, as a toggle port is read.
  if (const float* p = mPortData[ports.EnabledPort()])
    if (!std::isnan(*p)) mIsBypassed = !(*p > 0.0f);
}

void IFxLV2::ConnectChannels(int offset, int nFrames)
{
  const uint32_t firstAudio = mPorts->FirstAudioPort();
  const int nIn = InputChannelCount(), nOut = OutputChannelCount();

  // Input channels are the main inputs followed by the side-chain, in port
  // order; an unconnected one reads silence.
  bool zero = false;
  for (int c = 0; c < nIn; ++c)
    if (mInFromHost[(size_t)c] && !mPortData[firstAudio + (uint32_t)c]) zero = true;
  // A channel that read host audio and now reads silence would otherwise
  // read what the last piece left in its scratch buffer.
  if (zero) ZeroScratchBuffers();
  for (int c = 0; c < nIn; ++c)
  {
    float* p = mPortData[firstAudio + (uint32_t)c];
    mInFromHost[(size_t)c] = p != nullptr;
    SetInputChannelConnections(c, 1, p != nullptr);
    if (p)
    {
      p += offset;
      AttachInputBuffers(c, 1, &p, nFrames);
    }
  }
  for (int c = 0; c < nOut; ++c)
  {
    float* p = mPortData[firstAudio + (uint32_t)nIn + (uint32_t)c];
    SetOutputChannelConnections(c, 1, p != nullptr);
    if (p)
    {
      p += offset;
      AttachOutputBuffers(c, 1, &p);
    }
  }
}

void IFxLV2::WriteMeters()
{
  for (int m = 0, n = MeterCount(); m < n; ++m)
  {
    float* p = mPortData[mPorts->MeterPort(m)];
    if (!p) continue;
    const double v = GetMeterValue(m);
    *p = std::isfinite(v) ? (float)std::min(1.0, std::max(0.0, v)) : 0.0f;
  }
}

void IFxLV2::Run(uint32_t nFrames)
{
  KitMutexLock lock(&mMutex);
  // A run before instantiation has nothing to work with.
  if (!mPorts || mPortData.size() != mPorts->Count()) return;
  // Without scratch buffers (they could not be had) nothing can be
  // processed: silence, rather than what the host's buffers held.
  if (GetBlockSize() <= 0)
  {
    for (uint32_t i = 0; i < mPorts->Count(); ++i)
      if (mPorts->At(i)->kind == IFxLV2Port::kAudioOut && mPortData[i])
        memset(mPortData[i], 0, nFrames * sizeof(float));
    return;
  }

  ReadControlPorts();
  const int blockSize = GetBlockSize();
  for (uint32_t done = 0; done < nFrames;)
  {
    const int n = (int)std::min<uint32_t>((uint32_t)blockSize, nFrames - done);
    ConnectChannels((int)done, n);
    RunBuffers(0.0f, n);
    done += (uint32_t)n;
  }
  WriteMeters();
}

bool IFxLV2::PortEvent(uint32_t port, float value)
{
  const IFxLV2Port* p = Ports().At(port);
  if (!p) return false;
  if (p->kind == IFxLV2Port::kParam) return ApplyControlValue(p->index, value);
  if (p->kind == IFxLV2Port::kMeter && std::isfinite(value))
  {
    const int control = GetMeterInfo(p->index).controlIdx;
    IFxEditor* pEditor = GetGraphics();
    if (!pEditor || control < 0) return false;
    pEditor->SetControlFromPlug(control, std::min(1.0, std::max(0.0, (double)value)));
    return true;
  }
  return false;
}
