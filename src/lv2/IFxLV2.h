#pragma once

// Presents a framework plug-in to an LV2 host. The host's ports are the
// whole interface: control inputs carry plain parameter values (read once
// per run), a control input designated lv2:enabled is the host's bypass,
// control outputs carry the meters, and the audio ports are connected by
// the host before each run. The port values are the plug-in's settings;
// its state beyond them (the A/B slots) goes through the host's state
// interface.
//
// It owns the plug-in it is given and is the plug-in's host. The same class
// serves the plug-in's UI, which runs in the host's UI thread (possibly in
// another process) and holds its own instance as the model behind the
// editor: there it takes port values from the host and hands the editor's
// edits to an edit sink, which writes them to the ports.
//
// This header needs no LV2 header; the C entry points live in
// IFxLV2Entry.cpp and IFxLV2UI.cpp.

#include <cstdint>
#include <memory>
#include <vector>

#include "fx/IFxBase.h"
#include "fx/IFxBlockRunner.h"
#include "fx/IFxHost.h"
#include "lv2/IFxLV2Ports.h"

// Where the UI's instance sends the editor's edits, as port values.
class IFxLV2EditSink
{
public:
  virtual void BeginEdit(uint32_t port) = 0;
  virtual void Edit(uint32_t port, float value) = 0;
  virtual void EndEdit(uint32_t port) = 0;

protected:
  ~IFxLV2EditSink() = default;
};

class IFxLV2 final : public IFxHost
{
public:
  // Takes the plug-in (from MakePlug) and keeps it for its whole life.
  explicit IFxLV2(IFxBase* pPlug);
  ~IFxLV2();
  IFxLV2(const IFxLV2&) = delete;
  IFxLV2& operator=(const IFxLV2&) = delete;

  IFxBase* Plug() const { return mPlug.get(); }

  // The URIDs the state interface stores the A/B slots under (its key and
  // the atom:Chunk type), 0 when the host maps none.
  void SetStateUrids(uint32_t slotsKey, uint32_t chunkType) { mSlotsKey = slotsKey, mChunkType = chunkType; }
  uint32_t SlotsKey() const { return mSlotsKey; }
  uint32_t ChunkType() const { return mChunkType; }

  // Frames processed per call of the signal chain; longer runs go in pieces.
  static constexpr int kBlockFrames = 4096;
  // The sample rates an instance is made for (the renderer's range too);
  // outside them the rate-dependent coefficients no longer hold.
  static constexpr double kMinSampleRate = 8000.0, kMaxSampleRate = 768000.0;

  // ---- the plug-in's host ----
  EAPI GetAPI() const override { return kAPILV2; }
  void BeginInformHostOfParamChange(int idx) override;
  void InformHostOfParamChange(int idx, double normalizedValue) override;
  void EndInformHostOfParamChange(int idx) override;
  void InformHostOfProgramChange() override {}
  // Ports carry no latency report here: the plug-in keeps 0.
  void InformHostOfLatencyChange() override {}
  void ResizeGraphics(int w, int h) override;
  void PopupHostContextMenuForParam(int, int, int) override {}
  bool SendMidiMsg(IMidiMsg*) override { return false; }
  // No transport reaches a plug-in without the time extension.
  bool IsRenderingOffline() override { return false; }
  void GetTime(ITimeInfo* pTimeInfo) override;

  // The port layout; built on first use, after the plug-in has declared
  // its parameters.
  const IFxLV2Ports& Ports();

  // ---- the plug-in in the host's audio graph ----
  // Sample rate, scratch buffers, the first preset's values. Allocates.
  void Instantiate(double sampleRate);
  // data: a float for control ports, frames of floats for audio ports.
  void ConnectPort(uint32_t port, void* data);
  void Activate();
  void Deactivate();
  // Reads the control inputs, processes nFrames, writes the meters.
  // Allocates nothing, makes no system call and waits for nothing.
  void Run(uint32_t nFrames);

  // ---- the UI's instance ----
  // The host reports a port's value: a parameter takes it as in Run (and
  // the editor shows it), a meter goes to its control. False when nothing
  // changed.
  bool PortEvent(uint32_t port, float value);
  // Edits made in the editor go here; null stops them.
  void SetEditSink(IFxLV2EditSink* pSink) { mEditSink = pSink; }

  // A control port's value applied to parameter idx: NaN is ignored, a
  // stepped parameter takes the nearest step, the parameter clamps, and a
  // value equal to the current one in single precision keeps the current
  // one (so a host's float copy of a default changes nothing). Then the
  // editor and OnParamChange hear of it. False when nothing was applied.
  bool ApplyControlValue(int idx, float value);

private:
  void ReadControlPorts();
  void WriteMeters();

  std::unique_ptr<IFxBase> mPlug;
  IFxBlockRunner mRunner;
  std::unique_ptr<IFxLV2Ports> mPorts;
  IFxLV2EditSink* mEditSink = nullptr;

  // Host buffers by port index; sized at Instantiate so Run allocates nothing.
  std::vector<float*> mPortData;
  // The control inputs' values last applied, to apply only changes.
  std::vector<float> mLastControl;
  std::vector<char> mHaveLastControl;
  // The host's buffer for each plug-in channel in this run; sized at
  // construction.
  std::vector<float*> mIn, mOut;
  uint32_t mSlotsKey = 0, mChunkType = 0;
};

// What the module entry and the Turtle writer need from the plug-in that
// the bundle carries.
struct IFxLV2ClassDef
{
  const char* uri;        // the plug-in's URI; the UI's is uri + "#ui"
  const char* name;       // shown to the user
  const char* vendor;     // maintainer name
  const char* homepage;   // maintainer web address
  const char* email;      // maintainer contact address
  const char* lv2Class;   // class in the lv2 namespace, e.g. "CompressorPlugin"
  const char* license;    // licence URI
  const char* comment;    // one line on what the plug-in does
  int vendorVersion;      // packed major.minor.bug-fix, shown as the release
  // The LV2 interface version: hosts take an odd minor or micro version,
  // or minor version 0, for a development build.
  int lv2MinorVersion;
  int lv2MicroVersion;
};

// Defined by the plug-in (with MakePlug, fx/IFxBase.h).
const IFxLV2ClassDef& GetLV2ClassDef();
