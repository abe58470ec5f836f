#pragma once

#include "fx/IFxBase.h"

// Temporary binding base until the VST 3 binding lands: passes the
// plug-in's identity to the plug-in base for the VST 3 API and answers the
// host-facing operations with nothing, so the plug-in can be built and
// driven through IFxBase alone.
class IFxVST3 : public IFxBase
{
public:
  IFxVST3(IFxInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
          const char* effectName, const char* productName, const char* mfrName,
          int vendorVersion, int uniqueID, int mfrID, int latency,
          bool plugDoesMidi, bool plugDoesChunks, bool plugIsInst, int plugScChans)
    : IFxBase(nParams, channelIOStr, nPresets, effectName, productName, mfrName, vendorVersion,
              uniqueID, mfrID, latency, plugDoesMidi, plugDoesChunks, plugIsInst, kAPIVST3),
      mSidechainChannels(plugScChans)
  {
    (void)instanceInfo;
  }

  void BeginInformHostOfParamChange(int) override {}
  void InformHostOfParamChange(int, double) override {}
  void EndInformHostOfParamChange(int) override {}
  void InformHostOfProgramChange() override {}
  int GetSamplePos() override { return 0; }
  double GetTempo() override { return 0.0; }
  void GetTimeSig(int* pNum, int* pDenom) override
  {
    if (pNum) *pNum = 0;
    if (pDenom) *pDenom = 0;
  }
  void GetTime(ITimeInfo*) override {}
  void ResizeGraphics(int, int) override {}
  bool SendMidiMsg(IMidiMsg*) override { return false; }

protected:
  int mSidechainChannels;
};
