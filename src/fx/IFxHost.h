#pragma once

// What a plug-in needs of the host it runs in, in the plug-in's own terms.
// The binding that owns a plug-in implements it and hands it over with
// IFxBase::AttachHost; a plug-in without one (a tool's parameter table, a
// test) tells nobody and sees a transport that stands still.
//
// None of these is called on the audio thread, and no caller holds a lock
// the audio thread takes: whatever a host does inside them (take its own
// locks, wait for its UI) cannot stall the audio.

struct IMidiMsg;

// Which plug-in API an instance serves.
enum EAPI
{
  kAPIVST2 = 0,
  kAPIVST3 = 1,
  kAPIAU = 2,
  kAPIRTAS = 3,
  kAPIAAX = 4,
  kAPISA = 5,
  kAPILV2 = 6,
  kAPICLAP = 7
};

// Transport information the binding copies out of the host's context.
struct ITimeInfo
{
  double mTempo = 0.0;
  double mSamplePos = 0.0;
  double mPPQPos = 0.0;
  double mLastBar = 0.0;
  double mCycleStart = 0.0;
  double mCycleEnd = 0.0;
  int mNumerator = 0;
  int mDenominator = 0;
  bool mTransportIsRunning = false;
  bool mTransportLoopEnabled = false;
};

// An entry the plug-in adds to a host's context menu: the text shown and
// the id its editor hears back when it is chosen (IFxEditor::OnParamMenuEntry).
struct IFxMenuEntry
{
  const char* text;
  int id;
};

class IFxHost
{
public:
  virtual EAPI GetAPI() const = 0;

  // An edit made in the plug-in's editor, inside a gesture of begin and end.
  virtual void BeginInformHostOfParamChange(int paramIdx) = 0;
  virtual void InformHostOfParamChange(int paramIdx, double normalizedValue) = 0;
  virtual void EndInformHostOfParamChange(int paramIdx) = 0;
  // Several edits the host is to take as one (an A/B switch): around
  // their gestures, for hosts that group them (one undo step).
  virtual void BeginParamGroup() {}
  virtual void EndParamGroup() {}
  // The plug-in's state changed without any parameter changing (a copy
  // between A/B slots): the project has something to save.
  virtual void MarkStateChanged() {}
  virtual void InformHostOfProgramChange() = 0;
  // The plug-in's latency has changed (IFxBase::GetLatency has the new one).
  virtual void InformHostOfLatencyChange() = 0;
  // The editor asks for a new size.
  virtual void ResizeGraphics(int w, int h) = 0;
  virtual void PopupHostContextMenuForParam(int paramIdx, int x, int y) = 0;
  // The host's context menu for a parameter at (x, y) in the view's pixels,
  // with the plug-in's entries after the host's. A chosen entry reaches the
  // editor through the plug-in, while the menu is open or after it closed
  // (hosts differ). False when the host offers no menu: nothing was shown.
  virtual bool PopupParamMenu(int paramIdx, int x, int y, const IFxMenuEntry* entries, int nEntries)
  {
    (void)paramIdx, (void)x, (void)y, (void)entries, (void)nEntries;
    return false;
  }
  // False when the host takes no MIDI from the plug-in.
  virtual bool SendMidiMsg(IMidiMsg* pMsg) = 0;

  // The transport as of the host's last block.
  virtual bool IsRenderingOffline() = 0;
  virtual void GetTime(ITimeInfo* pTimeInfo) = 0;

protected:
  ~IFxHost() = default;
};
