#include "lv2/IFxLV2Ports.h"

#include <cctype>

#include "fx/IFxBase.h"
#include "fx/IParam.h"

namespace {

// "L"/"R" for a stereo pair, 1-based numbers otherwise.
std::string ChannelSuffix(int channel, int count, bool forSymbol)
{
  if (count == 2) return forSymbol ? (channel == 0 ? "_l" : "_r") : (channel == 0 ? " L" : " R");
  if (count == 1) return "";
  return (forSymbol ? "_" : " ") + std::to_string(channel + 1);
}

}  // namespace

std::string IFxLV2Ports::SymbolFrom(const char* name)
{
  std::string s;
  for (const char* p = name ? name : ""; *p; ++p)
  {
    const unsigned char c = (unsigned char)*p;
    if (std::isalnum(c) && c < 0x80)
      s += (char)std::tolower(c);
    else if (!s.empty() && s.back() != '_')
      s += '_';
  }
  while (!s.empty() && s.back() == '_') s.pop_back();
  if (s.empty() || std::isdigit((unsigned char)s[0])) s.insert(0, "p");
  return s;
}

void IFxLV2Ports::Add(IFxLV2Port::EKind kind, int index, std::string symbol, std::string name)
{
  // Symbols identify ports in saved sessions and must be unique.
  std::string unique = symbol;
  for (int n = 2;; ++n)
  {
    bool taken = false;
    for (const IFxLV2Port& p : mPorts) taken = taken || p.symbol == unique;
    if (!taken) break;
    unique = symbol + "_" + std::to_string(n);
  }
  mPorts.push_back({kind, index, unique, std::move(name)});
}

IFxLV2Ports::IFxLV2Ports(const IFxBase& plug, int sidechainChannels)
{
  const int nIn = plug.InputChannelCount();
  mSidechainChannels = sidechainChannels < 0 ? 0 : (sidechainChannels > nIn ? nIn : sidechainChannels);
  mMainIn = nIn - mSidechainChannels;
  mOut = plug.OutputChannelCount();

  mParamPorts.assign((size_t)plug.ParamCount(), 0);
  auto addParams = [&](int from, int to) {
    for (int i = from; i < to; ++i)
    {
      const char* name = plug.ParamAt(i)->GetNameForHost();
      mParamPorts[(size_t)i] = Count();
      Add(IFxLV2Port::kParam, i, SymbolFrom(name), name);
    }
  };
  const int appended = plug.FirstAppendedParam() < plug.ParamCount() ? plug.FirstAppendedParam() : plug.ParamCount();
  addParams(0, appended);
  mEnabled = Count();
  Add(IFxLV2Port::kEnabled, 0, "enabled", "Enabled");
  mMeterPorts.assign((size_t)(plug.MeterCount() > 0 ? plug.MeterCount() : 0), 0);
  auto addMeters = [&](bool appended) {
    for (int m = 0; m < plug.MeterCount(); ++m)
    {
      const IFxMeterInfo info = plug.GetMeterInfo(m);
      if (info.appended != appended) continue;
      mMeterPorts[(size_t)m] = Count();
      Add(IFxLV2Port::kMeter, m, SymbolFrom(*info.symbol ? info.symbol : info.name), info.name);
    }
  };
  addMeters(false);
  mFirstAudio = Count();
  for (int c = 0; c < mMainIn; ++c)
    Add(IFxLV2Port::kAudioIn, c, "in" + ChannelSuffix(c, mMainIn, true), "Input" + ChannelSuffix(c, mMainIn, false));
  for (int c = 0; c < mSidechainChannels; ++c)
    Add(IFxLV2Port::kSideChain, c, "sc" + ChannelSuffix(c, mSidechainChannels, true),
        "Side-chain" + ChannelSuffix(c, mSidechainChannels, false));
  for (int c = 0; c < mOut; ++c)
    Add(IFxLV2Port::kAudioOut, c, "out" + ChannelSuffix(c, mOut, true), "Output" + ChannelSuffix(c, mOut, false));
  addMeters(true);
  mLatency = Count();
  if (plug.MaxLatency() > 0) Add(IFxLV2Port::kLatency, 0, "latency", "Latency");
  addParams(appended, plug.ParamCount());
}
