#pragma once

// Which LV2 port carries what, for a framework plug-in: one control input
// per parameter (port index = parameter index), the host's enable switch,
// one control output per meter, the audio ports, then the meters added
// after a release, for a plug-in whose latency can be more than 0 the
// latency output, and the parameters added after the first release (so the
// ports before them keep their indices). The plug-in, its UI
// and the Turtle description all take the numbering from here, so the three
// cannot disagree.

#include <cstdint>
#include <string>
#include <vector>

class IFxBase;

struct IFxLV2Port
{
  enum EKind
  {
    kParam,      // control input, plain value of parameter `index`
    kEnabled,    // control input designated lv2:enabled (the host's bypass)
    kMeter,      // control output, meter `index`
    kAudioIn,    // main input channel `index`
    kSideChain,  // side-chain input channel `index` (0-based within the side-chain)
    kAudioOut,   // output channel `index`
    kLatency     // control output designated lv2:latency, in frames
  };

  EKind kind;
  int index;
  std::string symbol;
  std::string name;

  bool IsControl() const { return kind == kParam || kind == kEnabled || kind == kMeter || kind == kLatency; }
  bool IsOutput() const { return kind == kMeter || kind == kAudioOut || kind == kLatency; }
};

class IFxLV2Ports
{
public:
  // The layout of a plug-in with sidechainChannels of its inputs on the
  // side-chain (the last ones).
  IFxLV2Ports(const IFxBase& plug, int sidechainChannels);

  uint32_t Count() const { return (uint32_t)mPorts.size(); }
  // Null for an index out of range.
  const IFxLV2Port* At(uint32_t port) const { return port < Count() ? &mPorts[port] : nullptr; }
  const std::vector<IFxLV2Port>& All() const { return mPorts; }

  // The control input of parameter paramIdx (its index, for the
  // parameters of the first release), or Count() for none.
  uint32_t ParamPort(int paramIdx) const
  {
    return paramIdx >= 0 && (size_t)paramIdx < mParamPorts.size() ? mParamPorts[(size_t)paramIdx] : Count();
  }
  uint32_t EnabledPort() const { return mEnabled; }
  uint32_t MeterPort(int meterIdx) const { return mMeterPorts[(size_t)meterIdx]; }
  // The latency output, or Count() when the plug-in has none.
  uint32_t LatencyPort() const { return mLatency; }
  // Main inputs, then side-chain inputs, then outputs, one port each.
  uint32_t FirstAudioPort() const { return mFirstAudio; }
  int MainInputs() const { return mMainIn; }
  int SidechainInputs() const { return mSidechainChannels; }
  int Outputs() const { return mOut; }

  // A port symbol made from a name: lower-case letters, digits and '_',
  // never starting with a digit, never empty.
  static std::string SymbolFrom(const char* name);

private:
  void Add(IFxLV2Port::EKind kind, int index, std::string symbol, std::string name);

  std::vector<IFxLV2Port> mPorts;
  uint32_t mEnabled = 0, mFirstAudio = 0, mLatency = 0;
  std::vector<uint32_t> mMeterPorts;  // by meter index
  std::vector<uint32_t> mParamPorts;  // by parameter index
  int mMainIn = 0, mSidechainChannels = 0, mOut = 0;
};
