// tavlo-jack: the Tavlo compressor as a JACK client (jackd2 or PipeWire's
// JACK), with its editor in a window of its own and NSM session management.

#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "JackClient.h"
#include "JackEditor.h"
#include "JackOptions.h"
#include "JackSettings.h"
#include "NsmClient.h"
#include "PollLoop.h"
#include "TavloJackEngine.h"
#include "fx/IFxStateTail.h"
#include "fx/IParam.h"
#include "tavlo/TavloParams.h"
#include "kit/KitClock.h"

namespace {

constexpr int kExitFailure = 1, kExitUsage = 2;
std::atomic<bool> gStop{false};

void OnStopSignal(int) { gStop.store(true); }

int Fail(const std::string& message, int code)
{
  fprintf(stderr, "tavlo-jack: %s\n", message.c_str());
  return code;
}

std::string VersionText()
{
  char buf[32];
  snprintf(buf, sizeof(buf), "%d.%d.%d", kTavloVersion >> 16, (kTavloVersion >> 8) & 0xFF, kTavloVersion & 0xFF);
  return buf;
}

int PrintInfo(JackInfo request, TavloJackEngine& engine)
{
  JackHelpFacts facts;
  facts.version = VersionText();
  if (request == JackInfo::kVersion)
  {
    printf("tavlo-jack %s (Tavlo %s, Quillmarshworks)\n", facts.version.c_str(), facts.version.c_str());
    return 0;
  }
  facts.params = InstanceParams(engine.Plug());
  facts.presets = InstancePresets(engine.Plug());
  facts.ccMap = CcMapText(TavloJackEngine::DefaultCcMap(engine.Plug().ParamCount()), facts.params);
  fputs((request == JackInfo::kHelp      ? JackHelpText(facts)
         : request == JackInfo::kManPage ? JackManPage(facts)
                                         : JackBashCompletion(facts))
          .c_str(),
        stdout);
  return 0;
}

// The settings as they were at the last open or save, both A/B slots: a
// session is dirty while any differs, whoever changed it (editor, MIDI).
std::vector<double> Values(IFxBase& plug)
{
  std::vector<double> v((size_t)plug.ParamCount());
  for (int i = 0; i < plug.ParamCount(); ++i) v[(size_t)i] = plug.ParamAt(i)->GetValue();
  IFxStateTail slots;
  plug.GetSlots(&slots);
  v.push_back(slots.slot);
  v.insert(v.end(), slots.otherSlot.begin(), slots.otherSlot.end());
  return v;
}

std::string DefaultSettingsPath()
{
  const char* config = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  if (config && *config) return std::string(config) + "/tavlo/tavlo-jack.conf";
  return home && *home ? std::string(home) + "/.config/tavlo/tavlo-jack.conf" : "";
}

class Program
{
public:
  Program(const TavloJackOptions& opts, TavloJackEngine& engine)
    : mOpts(opts), mEngine(engine), mJack(engine), mEditor(engine, mLoop)
  {
    mEngine.onResize = [this](int w, int h) { mEditor.Resize(w, h); };
  }

  int Run()
  {
    signal(SIGINT, OnStopSignal);
    signal(SIGTERM, OnStopSignal);
    const char* nsmUrl = getenv("NSM_URL");
    std::string error;
    if (nsmUrl && *nsmUrl)
    {
      if (!StartUnderNsm(nsmUrl, error)) return Fail(error, kExitFailure);
    }
    else if (!StartJack(mOpts.name, error))
      return Fail(error, kExitFailure);
    if (gStop) return Stop();

    mWantEditor = !mOpts.headless;
    if (mWantEditor && !ShowEditor(error))
    {
      fprintf(stderr, "tavlo-jack: %s; running without the editor\n", error.c_str());
      mWantEditor = false;
    }
    if (mNsm.Opened()) mNsm.ReportGuiShown(mEditor.Shown());

    mLoop.Watch([this] { return mNsm.Fd(); }, [this] { mNsm.Receive(); });
    mLoop.Watch([this] { return mEditor.Fd(); }, [] {});
    double lastCheck = 0.0;
    while (!gStop)
    {
      mLoop.RunOnce(20);
      if (mEditor.Shown() && mEditor.CloseAsked())
      {
        // Under a session manager the window hides; on its own it ends the program.
        HideEditor();
        if (!mNsm.Opened()) break;
        mNsm.ReportGuiShown(false);
      }
      if (mJack.ServerGone()) return Stop(Fail("the JACK server went away", kExitFailure));
      mJack.Idle();
      if (mJack.Rate() != mShownRate)
      {
        // The compressor was set up afresh for it (JackClient::Idle).
        mShownRate = mJack.Rate();
        printf("tavlo-jack: the server runs at %u Hz now\n", mShownRate);
        fflush(stdout);
      }
      const int program = mEngine.TakePendingProgram();
      if (program >= 0) mEngine.ChoosePreset(program);
      const double now = KitNowMs();
      if (now - lastCheck >= 100.0)
      {
        lastCheck = now;
        if (mNsm.Opened()) mNsm.ReportDirty(Values(mEngine.Plug()) != mSaved);
        UpdateTitle();
      }
    }
    return Stop();
  }

private:
  bool StartJack(const std::string& name, std::string& error)
  {
    if (!mJack.Open(name, error)) return false;
    printf("tavlo-jack: found %s\n", JackClient::ServerDescription().c_str());
    fflush(stdout);
    if (mOpts.listPorts)
    {
      for (const std::string& line : mJack.ListPorts()) printf("%s\n", line.c_str());
      gStop = true;
      return true;
    }
    if (!mJack.Activate(error)) return false;
    for (const std::string& c : mOpts.connects)
      if (!mJack.Connect(c, error)) return false;
    mShownRate = mJack.Rate();
    printf("tavlo-jack: running as %s, %u Hz, %u frames a period\n", mJack.Name().c_str(), mShownRate,
           mJack.Period());
    fflush(stdout);
    return true;
  }

  bool StartUnderNsm(const char* url, std::string& error)
  {
    mNsm.onOpen = [this](const std::string& path, const std::string& clientId, std::string& message) {
      return OnNsmOpen(path, clientId, message);
    };
    mNsm.onSave = [this](std::string& message) { return OnNsmSave(message); };
    mNsm.onShowGui = [this] {
      std::string why;
      if (!ShowEditor(why)) fprintf(stderr, "tavlo-jack: %s\n", why.c_str());
      mNsm.ReportGuiShown(mEditor.Shown());
    };
    mNsm.onHideGui = [this] {
      HideEditor();
      mNsm.ReportGuiShown(false);
    };
    if (!mNsm.Announce(url, "Tavlo", "tavlo-jack", error)) return false;
    // The session names the client and its folder before anything starts.
    const double until = KitNowMs() + 10000.0;
    while (!mNsm.Opened() && !gStop && mOpenError.empty() && KitNowMs() < until) mNsm.ReceiveFor(50);
    if (!mOpenError.empty())
    {
      error = mOpenError;
      return false;
    }
    if (!mNsm.Opened() && !gStop)
    {
      error = "the session manager at " + std::string(url) + " did not open this client";
      return false;
    }
    return true;
  }

  bool OnNsmOpen(const std::string& path, const std::string& clientId, std::string& message)
  {
    // The session's folder for this client; its state, when one was saved.
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    {
      message = mOpenError = "cannot make " + path + ": " + strerror(errno);
      return false;
    }
    mStatePath = path + "/state.tavlo";
    struct stat st;
    if (stat(mStatePath.c_str(), &st) == 0)
    {
      std::vector<uint8_t> bytes;
      std::string why;
      if (!ReadFileBytes(mStatePath, bytes, why) || !mEngine.LoadState(bytes, why))
      {
        message = mOpenError = mStatePath + ": " + why;
        return false;
      }
    }
    mSaved = Values(mEngine.Plug());
    if (!mJackStarted)
    {
      std::string why;
      if (!StartJack(clientId, why))
      {
        message = mOpenError = why;
        return false;
      }
      mJackStarted = true;
    }
    message = "opened " + mStatePath;
    return true;
  }

  bool OnNsmSave(std::string& message)
  {
    std::vector<uint8_t> bytes;
    if (!mEngine.SaveState(bytes) || !WriteFileBytes(mStatePath, bytes, message)) return false;
    mSaved = Values(mEngine.Plug());
    message = "saved " + mStatePath;
    return true;
  }

  bool ShowEditor(std::string& error)
  {
    if (!mEditor.Show(Title(), error)) return false;
    mShownXruns = mJack.Xruns();
    return true;
  }

  void HideEditor() { mEditor.Hide(); }

  std::string Title() const
  {
    const uint64_t xruns = mJack.Xruns();
    std::string t = "Tavlo - " + mJack.Name();
    if (xruns > 0) t += " - " + std::to_string(xruns) + (xruns == 1 ? " xrun" : " xruns");
    return t;
  }

  void UpdateTitle()
  {
    if (!mEditor.Shown() || mJack.Xruns() == mShownXruns) return;
    mShownXruns = mJack.Xruns();
    mEditor.SetTitle(Title());
  }

  int Stop(int code = 0)
  {
    mEditor.Hide();
    const uint64_t xruns = mJack.Xruns();
    mJack.Close();
    if (mOpts.headless && !mOpts.listPorts) printf("tavlo-jack: %llu xruns\n", (unsigned long long)xruns);
    return code;
  }

  const TavloJackOptions& mOpts;
  TavloJackEngine& mEngine;
  PollLoop mLoop;
  JackClient mJack;
  JackEditor mEditor;
  NsmClient mNsm;
  bool mWantEditor = false;
  bool mJackStarted = false;
  std::string mStatePath, mOpenError;
  std::vector<double> mSaved;
  uint64_t mShownXruns = 0;
  uint32_t mShownRate = 0;
};

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: fontconfig keeps its configuration until the process
// ends (the editor's text uses it while static objects are destroyed), and
// the table of suppressed blocks would follow the program's own lines.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
  return "leak:libfontconfig.so\n";
}
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options()
{
  return "print_suppressions=0";
}
#endif

int main(int argc, char** argv)
{
  TavloJackOptions opts;
  std::string error;
  if (!ParseJackOptions(argc, argv, opts, error)) return Fail(error, kExitUsage);
  TavloJackEngine engine(MakePlug());
  if (opts.info != JackInfo::kNone) return PrintInfo(opts.info, engine);

  std::vector<int> ccMap = engine.CcMap();
  const std::string settings = !opts.settings.empty() ? opts.settings : DefaultSettingsPath();
  struct stat st;
  if (!settings.empty() && (!opts.settings.empty() || stat(settings.c_str(), &st) == 0))
  {
    if (!ReadSettingsFile(settings, engine.Plug(), ccMap, error)) return Fail(error, kExitFailure);
    engine.SetCcMap(ccMap);
  }
  StartSettings start{opts.loadState, opts.preset, opts.sets};
  bool usage = false;
  if (!ApplyStartSettings(engine, start, error, &usage)) return Fail(error, usage ? kExitUsage : kExitFailure);
  Program program(opts, engine);
  return program.Run();
}
