// Loads the built Tavlo.vst3 through JUCE's VST 3 hosting classes, as a
// JUCE-based host would, and checks what such a host sees and hears.
// Prints one line per check and "N passed, M failed"; exits non-zero on any
// failure. Usage: tavlo_juce_host [--editor <snapshot.png>] <path to Tavlo.vst3>
// With --editor it starts a private Xvfb and checks the editor instead.

#include <JuceHeader.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 512;

// Hand-worked numbers for the signals used below (Input 30, Mix 100, Output 0):
// a full-scale Nyquist tone L = R = +1, -1, ... drives the detector past the
// end of its curve (E = 0.0530702, level -25.4157 dB, 4.5843 dB over the
// threshold of -30) with ratio 10^(2/20), so the gain settles at 0.896799.
constexpr double kNyquistGain = 0.896799;
// The colouration term for |x| = 1: the curve read at 142.143 / 4 = 35.5358
// entries is 3.641937e-6, subtracted 70 dB up: 1 - 0.0115168.
constexpr double kPreampAtOne = 0.9884832;
// Main input DC 0.5 on both sides (ratio 10^(1/20)) with the Nyquist tone
// on the side-chain: gain 0.944033; colouration at 0.5 reads 9.936e-8,
// 70 dB up that is 3.142e-4 below 0.5.
constexpr double kSidechainGain = 0.944033;
constexpr double kPreampAtHalf = 0.5 - 3.142e-4;

int gPassed = 0, gFailed = 0;

bool Check(bool ok, const std::string& name, const std::string& detail = {})
{
  (ok ? gPassed : gFailed)++;
  std::printf("%s  %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : ": ",
              detail.c_str());
  std::fflush(stdout);
  return ok;
}

std::string Fmt(const char* fmt, double a, double b = 0.0)
{
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

// Sample generator: (channel, frame) -> value. Channels 2 and 3 are the
// side-chain when the host passes it.
using Gen = std::function<double(int, int)>;

double Nyquist(int frame) { return (frame % 2 == 0) ? 1.0 : -1.0; }

struct Host
{
  juce::VST3PluginFormat format;
  juce::PluginDescription desc;

  std::unique_ptr<juce::AudioPluginInstance> Make(std::string& error)
  {
    juce::String err;
    auto inst = format.createInstanceFromDescription(desc, kRate, kBlock, err);
    error = err.toStdString();
    return inst;
  }
};

juce::AudioProcessorParameter* ParamByName(juce::AudioPluginInstance& p, const juce::String& name)
{
  for (auto* q : p.getParameters())
    if (q->getName(128) == name)
      return q;
  return nullptr;
}

// Renders nFrames through the instance in kBlock blocks. between(block) runs
// before each block, for automation. Returns channels 0 and 1 interleaved per
// channel: out[ch][frame].
template <typename T>
std::vector<std::vector<double>> Render(juce::AudioPluginInstance& p, const Gen& gen, int nFrames,
                                        const std::function<void(int)>& between = {})
{
  const int nCh = std::max(p.getTotalNumInputChannels(), p.getTotalNumOutputChannels());
  juce::AudioBuffer<T> buf(nCh, kBlock);
  juce::MidiBuffer midi;
  std::vector<std::vector<double>> out(2, std::vector<double>((size_t)nFrames));
  for (int pos = 0, block = 0; pos < nFrames; pos += kBlock, ++block)
  {
    const int n = std::min(kBlock, nFrames - pos);
    if (between)
      between(block);
    buf.setSize(nCh, n, false, false, true);
    for (int ch = 0; ch < nCh; ++ch)
      for (int i = 0; i < n; ++i)
        buf.setSample(ch, i, (T)gen(ch, pos + i));
    p.processBlock(buf, midi);
    for (int ch = 0; ch < 2; ++ch)
      for (int i = 0; i < n; ++i)
        out[(size_t)ch][(size_t)(pos + i)] = (double)buf.getSample(ch, i);
  }
  return out;
}

bool Prepare(juce::AudioPluginInstance& p, bool dbl)
{
  p.setProcessingPrecision(dbl ? juce::AudioProcessor::doublePrecision
                               : juce::AudioProcessor::singlePrecision);
  p.prepareToPlay(kRate, kBlock);
  return p.isUsingDoublePrecision() == dbl;
}

// Largest |out| over frames [from, to) that hold the loud (+1) phase.
double PeakOfEvenFrames(const std::vector<double>& v, int from, int to)
{
  double m = 0.0;
  for (int i = from; i < to; i += 2)
    m = std::max(m, std::fabs(v[(size_t)i]));
  return m;
}

void SetPlain(juce::AudioProcessorParameter* p, double normalised)
{
  p->setValueNotifyingHost((float)normalised);
}

// ---------------------------------------------------------------------------

void CheckDescription(const juce::PluginDescription& d)
{
  Check(d.name == "Tavlo", "description name", d.name.toStdString());
  Check(d.manufacturerName == "Quillmarshworks", "description vendor",
        d.manufacturerName.toStdString());
  Check(d.category.contains("Dynamics") && d.category.contains("Fx"), "description category",
        d.category.toStdString());
  Check(d.version == "3.3.0", "description version", d.version.toStdString());
  Check(!d.isInstrument, "description is an effect");
  Check(d.numInputChannels == 2 && d.numOutputChannels == 2, "description active channels",
        Fmt("%g in, %g out", d.numInputChannels, d.numOutputChannels));
  Check(d.pluginFormatName == "VST3", "description format", d.pluginFormatName.toStdString());
}

void CheckBuses(juce::AudioPluginInstance& p)
{
  Check(p.getBusCount(true) == 2 && p.getBusCount(false) == 1, "bus counts",
        Fmt("%g in, %g out", p.getBusCount(true), p.getBusCount(false)));
  if (p.getBusCount(true) < 2 || p.getBusCount(false) < 1)
    return;
  auto* mainIn = p.getBus(true, 0);
  auto* side = p.getBus(true, 1);
  auto* out = p.getBus(false, 0);
  Check(mainIn->isMain() && mainIn->isEnabled() &&
            mainIn->getCurrentLayout() == juce::AudioChannelSet::stereo(),
        "main input is an enabled stereo bus", mainIn->getName().toStdString());
  Check(!side->isMain() && !side->isEnabled(), "side-chain bus starts disabled",
        side->getName().toStdString());
  Check(side->getDefaultLayout() == juce::AudioChannelSet::stereo(), "side-chain bus is stereo",
        side->getDefaultLayout().getDescription().toStdString());
  Check(out->isEnabled() && out->getCurrentLayout() == juce::AudioChannelSet::stereo(),
        "output is an enabled stereo bus", out->getName().toStdString());
  Check(p.getTotalNumInputChannels() == 2, "two input channels while the side-chain is off",
        Fmt("%g", p.getTotalNumInputChannels()));
}

void CheckParameters(juce::AudioPluginInstance& p)
{
  auto params = p.getParameters();
  std::string names;
  for (auto* q : params)
    names += q->getName(128).toStdString() + ",";
  Check(names == "Preset,Host Bypass,Input,Output,Attack,Release,Mix,HPF,Oversample,Bypass,Sidechain,Detector,Listen,",
        "parameter list in host order", names);

  auto* bypass = p.getBypassParameter();
  Check(bypass != nullptr && bypass == params[1], "host bypass parameter recognised",
        bypass ? bypass->getName(128).toStdString() : "none");
  if (bypass)
  {
    Check(bypass->getNumSteps() == 2 && bypass->getValue() == 0.0f, "bypass is a two-state switch, off",
          Fmt("steps %g value %g", bypass->getNumSteps(), bypass->getValue()));
  }

  // Ranges through the text of the end points and of the default, in the
  // units people read them in: the number, and the unit as the label JUCE
  // writes beside it.
  struct Want { const char* name; const char* lo; const char* hi; float def; const char* label; };
  const Want want[] = {
      {"Input", "0", "400", 0.0f, ""},              {"Output", "-20.0", "20.0", 0.5f, "dB"},
      {"Attack", "0.1", "10.1", -1.0f, "ms"},       {"Release", "100", "500", -1.0f, "ms"},
      {"Mix", "0", "100", 1.0f, "%"},               {"HPF", "20", "500", 0.0f, "Hz"},
      {"Oversample", "Off", "On", 0.0f, ""},        {"Sidechain", "External", "Internal", 1.0f, ""},
      {"Detector", "Right", "Mid", 0.0f, ""},       {"Listen", "Off", "On", 0.0f, ""},
  };
  for (const Want& w : want)
  {
    juce::AudioProcessorParameter* q = nullptr;
    for (int i = 2; i < params.size(); ++i)
      if (params[i]->getName(128) == w.name)
        q = params[i];
    if (!q)
    {
      Check(false, std::string("parameter ") + w.name, "missing");
      continue;
    }
    const auto lo = q->getText(0.0f, 32), hi = q->getText(1.0f, 32);
    bool ok = lo == w.lo && hi == w.hi && q->getLabel() == w.label && q->isAutomatable();
    if (w.def >= 0.0f)
      ok = ok && std::fabs(q->getDefaultValue() - w.def) < 1e-6f;
    Check(ok, std::string("parameter ") + w.name + " range text",
          (lo + " .. " + hi + " " + q->getLabel()).toStdString() +
              Fmt(", default %g", q->getDefaultValue()));
  }
  // Attack and Release have shape 2: the middle of the knob is a quarter of
  // the way up the range (0.1 + 0.4 / 4 = 0.2 s).
  if (auto* rel = ParamByName(p, "Release"))
  {
    Check(rel->getText(0.5f, 32) == "200", "Release at normalised 0.5 reads 200 (ms)",
          rel->getText(0.5f, 32).toStdString());
    Check(std::fabs(rel->getValueForText("0.2 s") - 0.5f) < 1e-6f, "Release text 0.2 s is normalised 0.5",
          Fmt("%g", rel->getValueForText("0.2 s")));
  }
  if (auto* in = ParamByName(p, "Input"))
  {
    Check(in->getValueForText("30") == 0.075f || std::fabs(in->getValueForText("30") - 0.075f) < 1e-6f,
          "Input text 30 is normalised 0.075", Fmt("%g", in->getValueForText("30")));
  }
}

// Float and double processing of the Nyquist tone: Input 0 passes it at the
// preamp's level; Input 30 reduces it by the hand-worked gain.
void CheckProcessing(Host& host)
{
  std::vector<double> peak[2][2]; // [precision][input 0 / input 30]
  std::vector<std::vector<double>> keep[2];
  for (int dbl = 0; dbl < 2; ++dbl)
  {
    const char* tag = dbl ? "double" : "float";
    for (int loud = 0; loud < 2; ++loud)
    {
      std::string err;
      auto p = host.Make(err);
      if (!p)
      {
        Check(false, std::string("instance for ") + tag, err);
        return;
      }
      const bool prec = Prepare(*p, dbl == 1);
      if (loud == 0)
        Check(prec, std::string(tag) + " processing accepted");
      auto* input = ParamByName(*p, "Input");
      if (loud)
        SetPlain(input, 30.0 / 400.0);
      const int n = 48000;
      auto out = dbl ? Render<double>(*p, [](int, int f) { return Nyquist(f); }, n)
                     : Render<float>(*p, [](int, int f) { return Nyquist(f); }, n);
      peak[dbl][loud] = {PeakOfEvenFrames(out[0], n - 4800, n), PeakOfEvenFrames(out[1], n - 4800, n)};
      if (loud)
        keep[dbl] = out;
      // The sign follows the input: loud frames out positive, quiet negative.
      Check(out[0][(size_t)n - 2] > 0.0 && out[0][(size_t)n - 1] < 0.0,
            std::string(tag) + (loud ? " Input 30" : " Input 0") + " output keeps the tone's sign");
      p->releaseResources();
    }
    const double expectDry = kPreampAtOne, expectComp = kNyquistGain * kPreampAtOne;
    Check(std::fabs(peak[dbl][0][0] - expectDry) < 1e-4 && std::fabs(peak[dbl][0][1] - expectDry) < 1e-4,
          std::string(tag) + " Input 0 level", Fmt("%.6f (expected %.6f)", peak[dbl][0][0], expectDry));
    Check(std::fabs(peak[dbl][1][0] - expectComp) < 2e-4 && std::fabs(peak[dbl][1][1] - expectComp) < 2e-4,
          std::string(tag) + " Input 30 level",
          Fmt("%.6f (expected %.6f)", peak[dbl][1][0], expectComp));
    const double grDb = 20.0 * std::log10(peak[dbl][1][0] / peak[dbl][0][0]);
    Check(std::fabs(grDb - 20.0 * std::log10(kNyquistGain)) < 0.01,
          std::string(tag) + " Input 30 gain reduction",
          Fmt("%.3f dB (expected %.3f dB)", grDb, 20.0 * std::log10(kNyquistGain)));
  }
  // 32-bit and 64-bit hosts hear the same thing, up to float rounding.
  double worst = 0.0;
  for (int ch = 0; ch < 2; ++ch)
    for (size_t i = 0; i < keep[0][(size_t)ch].size(); ++i)
      worst = std::max(worst, std::fabs(keep[0][(size_t)ch][i] - keep[1][(size_t)ch][i]));
  Check(worst < 1e-6, "float and double renders agree", Fmt("max difference %g", worst));
}

// Output steps from 0 dB to -20 dB between blocks 5 and 6: the drop lands on
// the first frame of block 6, nowhere else.
void CheckAutomationStep(Host& host)
{
  std::string err;
  auto p = host.Make(err);
  if (!p)
    { Check(false, "instance for automation", err); return; }
  Prepare(*p, false);
  auto* output = ParamByName(*p, "Output");
  const int stepBlock = 6, n = 12 * kBlock, edge = stepBlock * kBlock;
  auto out = Render<float>(*p, [](int, int f) { return Nyquist(f); }, n, [&](int block) {
    if (block == stepBlock)
      SetPlain(output, 0.0); // -20 dB
  });
  const double before = std::fabs(out[0][(size_t)edge - 1]), after = std::fabs(out[0][(size_t)edge]);
  Check(std::fabs(after / before - 0.1) < 1e-4, "automated Output step lands on the block start",
        Fmt("|out| %.6f -> %.6f", before, after));
  // Before the step the smoothed gain has settled: neighbours agree.
  const double prev = std::fabs(out[0][(size_t)edge - 2]);
  Check(std::fabs(prev / before - 1.0) < 1e-3, "no change before the automated step",
        Fmt("%.6f vs %.6f", prev, before));
  Check(std::fabs(std::fabs(out[1][(size_t)n - 1]) - 0.1 * kPreampAtOne) < 1e-4,
        "Output -20 dB level at the end", Fmt("%.6f", std::fabs(out[1][(size_t)n - 1])));
}

// The side-chain drives the detector only when the host enables its bus.
void CheckSidechain(Host& host)
{
  auto gen = [](int ch, int f) { return ch < 2 ? 0.5 : Nyquist(f); };
  double level[2] = {0.0, 0.0};
  for (int enable = 0; enable < 2; ++enable)
  {
    std::string err;
    auto p = host.Make(err);
    if (!p)
      { Check(false, "instance for side-chain", err); return; }
    if (enable)
    {
      auto layout = p->getBusesLayout();
      layout.inputBuses.getReference(1) = juce::AudioChannelSet::stereo();
      const bool ok = p->setBusesLayout(layout);
      Check(ok && p->getBus(true, 1)->isEnabled() && p->getTotalNumInputChannels() == 4,
            "host enables the side-chain bus", Fmt("%g input channels", p->getTotalNumInputChannels()));
    }
    Prepare(*p, false);
    SetPlain(ParamByName(*p, "Input"), 30.0 / 400.0);
    SetPlain(ParamByName(*p, "Sidechain"), 0.0);
    const int n = 48000;
    auto out = Render<float>(*p, gen, n);
    level[enable] = std::fabs(out[0][(size_t)n - 1]);
  }
  Check(std::fabs(level[0] - kPreampAtHalf) < 1e-4, "Sidechain 0 with the bus off: no reduction",
        Fmt("%.6f (expected %.6f)", level[0], kPreampAtHalf));
  Check(std::fabs(level[1] - kSidechainGain * kPreampAtHalf) < 2e-4,
        "Sidechain 0 with the bus on: the side-chain drives the detector",
        Fmt("%.6f (expected %.6f)", level[1], kSidechainGain * kPreampAtHalf));
}

// A state saved by one instance and restored into a fresh one gives the same
// parameters and the same audio: the restore must reach the signal chain, not
// only the controller.
void CheckStateRoundTrip(Host& host)
{
  struct Set { const char* name; double norm; };
  const Set sets[] = {{"Input", 45.0 / 400.0}, {"Output", 0.4},  {"Attack", 0.3},
                      {"Release", 0.7},        {"Mix", 0.8},     {"HPF", 0.25},
                      {"Oversample", 1.0}};
  const int warm = 2 * kBlock, n = 24000;
  auto gen = [](int ch, int f) {
    const double t = f / kRate;
    return 0.6 * std::sin(2.0 * juce::MathConstants<double>::pi * (ch ? 220.0 : 330.0) * t) +
           0.3 * std::sin(2.0 * juce::MathConstants<double>::pi * 1700.0 * t);
  };
  auto silence = [](int, int) { return 0.0; };

  std::string err;
  auto a = host.Make(err);
  auto b = host.Make(err);
  auto c = host.Make(err);
  if (!a || !b || !c)
    { Check(false, "instances for state", err); return; }
  for (auto* p : {a.get(), b.get(), c.get()})
    Prepare(*p, true);
  for (const Set& s : sets)
    SetPlain(ParamByName(*a, s.name), s.norm);
  // The same warm-up for everyone, so every signal chain has the same history.
  Render<double>(*a, silence, warm);
  juce::MemoryBlock state;
  a->getStateInformation(state);
  Check(state.getSize() > 0, "state saved", Fmt("%g bytes", (double)state.getSize()));
  b->setStateInformation(state.getData(), (int)state.getSize());
  Render<double>(*b, silence, warm);
  Render<double>(*c, silence, warm);

  bool same = true;
  std::string diff;
  auto pa = a->getParameters(), pb = b->getParameters();
  for (int i = 0; i < pa.size() && i < pb.size(); ++i)
    if (pa[i]->getValue() != pb[i]->getValue() || pa[i]->getText(pa[i]->getValue(), 32) !=
                                                       pb[i]->getText(pb[i]->getValue(), 32))
    {
      same = false;
      diff += (pa[i]->getName(32) + " " + juce::String(pa[i]->getValue()) + "/" +
               juce::String(pb[i]->getValue()) + " ")
                  .toStdString();
    }
  Check(same && pa.size() == pb.size(), "restored instance reports the same parameters", diff);
  if (auto* mix = ParamByName(*b, "Mix"))
    Check(mix->getText(mix->getValue(), 32) == "80", "restored Mix reads 80 (%)",
          mix->getText(mix->getValue(), 32).toStdString());

  auto outA = Render<double>(*a, gen, n), outB = Render<double>(*b, gen, n),
       outC = Render<double>(*c, gen, n);
  int firstDiff = -1;
  double worstDefault = 0.0;
  for (int ch = 0; ch < 2; ++ch)
    for (int i = 0; i < n; ++i)
    {
      if (firstDiff < 0 && outA[(size_t)ch][(size_t)i] != outB[(size_t)ch][(size_t)i])
        firstDiff = i;
      worstDefault = std::max(worstDefault,
                              std::fabs(outA[(size_t)ch][(size_t)i] - outC[(size_t)ch][(size_t)i]));
    }
  Check(firstDiff < 0, "restored instance renders identical audio",
        firstDiff < 0 ? "" : Fmt("first difference at frame %g", firstDiff));
  // Guard against a test signal that cannot tell the settings apart.
  Check(worstDefault > 0.01, "the saved settings change the audio",
        Fmt("max difference to defaults %g", worstDefault));
}

// The host's bypass parameter: output equals input exactly once the
// switch's 5 ms fade (240 frames at 48 kHz) is over, and switching it off
// again resumes processing.
void CheckBypass(Host& host)
{
  std::string err;
  auto p = host.Make(err);
  if (!p)
    { Check(false, "instance for bypass", err); return; }
  Prepare(*p, false);
  // Output -6 dB (normalised 0.35) makes processed blocks plainly different.
  SetPlain(ParamByName(*p, "Output"), 0.35);
  auto* bypass = p->getBypassParameter();
  if (!bypass)
    { Check(false, "bypass parameter", "missing"); return; }
  auto gen = [](int ch, int f) { return 0.25 * (ch + 1) * std::sin(0.05 * f + ch); };
  const int n = 8 * kBlock;
  auto out = Render<float>(*p, gen, n, [&](int block) {
    if (block == 2)
      bypass->setValueNotifyingHost(1.0f);
    if (block == 6)
      bypass->setValueNotifyingHost(0.0f);
  });
  int mismatch = -1;
  for (int ch = 0; ch < 2 && mismatch < 0; ++ch)
    for (int i = 2 * kBlock + 240; i < 6 * kBlock; ++i)
      if ((float)out[(size_t)ch][(size_t)i] != (float)gen(ch, i))
      {
        mismatch = i;
        break;
      }
  Check(mismatch < 0, "bypassed blocks equal the input", mismatch < 0 ? "" : Fmt("frame %g", mismatch));
  // Block 7 is processed again: about -6 dB (the colouration term adds a
  // little; the smoothed gain has long settled).
  double eOut = 0.0, eIn = 0.0;
  for (int i = 7 * kBlock; i < n; ++i)
  {
    eOut += out[0][(size_t)i] * out[0][(size_t)i];
    eIn += gen(0, i) * gen(0, i);
  }
  const double ratio = std::sqrt(eOut / eIn);
  Check(std::fabs(ratio - std::pow(10.0, -6.0 / 20.0)) < 0.01, "processing resumes after bypass",
        Fmt("level ratio %.4f (expected %.4f)", ratio, std::pow(10.0, -6.0 / 20.0)));
}

// ---------------------------------------------------------------------------
// The editor, on a private X server.

// A virtual X server on the first free display number from 90 up; stopped
// again by the destructor.
class Xvfb
{
public:
  bool Start()
  {
    for (int n = 90; n < 190; ++n)
    {
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
      struct stat st;
      if (stat(lock.c_str(), &st) == 0 || stat(sock.c_str(), &st) == 0)
        continue;
      const std::string disp = ":" + std::to_string(n);
      const pid_t pid = fork();
      if (pid < 0)
        return false;
      if (pid == 0)
      {
        // The server goes with this program, however it ends, and keeps
        // its chatter off the test's output.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        unsetenv("LD_PRELOAD"); // a sanitizer runtime is for the host, not the server

        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0)
        {
          dup2(devNull, 1);
          dup2(devNull, 2);
        }
        execlp("Xvfb", "Xvfb", disp.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
               (char*)nullptr);
        _exit(127);
      }
      // Ready when the socket appears; gone when another run took the number.
      for (int waited = 0; waited < 100; ++waited)
      {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
          break;
        if (stat(sock.c_str(), &st) == 0)
        {
          // Another run's server may have made that socket: ours must still
          // be alive a moment later.
          usleep(200000);
          if (waitpid(pid, &status, WNOHANG) == pid)
            break;
          mPid = pid;
          mDisplay = disp;
          return true;
        }
        usleep(50000);
      }
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    return false;
  }
  ~Xvfb()
  {
    if (mPid > 0)
    {
      kill(mPid, SIGTERM);
      waitpid(mPid, nullptr, 0);
    }
  }
  const std::string& Display() const { return mDisplay; }

private:
  pid_t mPid = -1;
  std::string mDisplay;
};

} // namespace

namespace juce
{
// The Linux message loop's single step (JUCE's own, normally driven by its
// application loop or modal loops, neither of which a console program has).
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace
{
void Pump(int ms)
{
  const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)ms;
  while (juce::Time::getMillisecondCounter() < end)
    if (!juce::dispatchNextMessageOnSystemQueue(true))
      juce::Thread::sleep(2);
}

// A JUCE application installs an X error handler that logs and carries on;
// without one, Xlib's default ends the process on the first error. This
// console program stands in for the application here and counts them.
int gXErrors = 0;
int CountXError(Display*, XErrorEvent* e)
{
  if (gXErrors++ < 5)
    std::printf("note: X error %d on request %d\n", (int)e->error_code, (int)e->request_code);
  return 0;
}

int TopLevelWindows(Display* d)
{
  Window root = 0, parent = 0, *kids = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n))
    return -1;
  if (kids)
    XFree(kids);
  return (int)n;
}

// Grabs the screen area of the editor and compares it with the background
// image in the bundle: most of the editor is background, the rest controls.
void CheckEditorPixels(Display* d, const juce::Rectangle<int>& r, const juce::File& bg,
                       const juce::File& snapshotFile)
{
  const juce::Image bgImage = juce::ImageFileFormat::loadFrom(bg);
  if (!Check(bgImage.isValid() && bgImage.getWidth() == 786 && bgImage.getHeight() == 483,
             "background image in the bundle is 786 x 483", bg.getFullPathName().toStdString()))
    return;
  XImage* img = XGetImage(d, DefaultRootWindow(d), r.getX(), r.getY(), (unsigned)r.getWidth(),
                          (unsigned)r.getHeight(), AllPlanes, ZPixmap);
  if (!Check(img != nullptr, "screenshot of the editor area"))
    return;
  juce::Image shot(juce::Image::RGB, r.getWidth(), r.getHeight(), false);
  long same = 0, black = 0, total = 0;
  for (int y = 0; y < r.getHeight(); ++y)
    for (int x = 0; x < r.getWidth(); ++x)
    {
      const unsigned long px = XGetPixel(img, x, y);
      const int red = (int)((px >> 16) & 0xff), green = (int)((px >> 8) & 0xff), blue = (int)(px & 0xff);
      shot.setPixelAt(x, y, juce::Colour((juce::uint8)red, (juce::uint8)green, (juce::uint8)blue));
      const juce::Colour want = bgImage.getPixelAt(x, y);
      ++total;
      if (std::abs(red - want.getRed()) <= 8 && std::abs(green - want.getGreen()) <= 8 &&
          std::abs(blue - want.getBlue()) <= 8)
        ++same;
      if (red + green + blue == 0)
        ++black;
    }
  XDestroyImage(img);
  const double fracSame = (double)same / (double)total, fracBlack = (double)black / (double)total;
  Check(fracSame > 0.6, "screenshot shows the background",
        Fmt("%.1f %% of pixels match bg.png, %.1f %% black", 100.0 * fracSame, 100.0 * fracBlack));
  // The centre of the version line's area and the corners are background.
  const int cx[] = {2, r.getWidth() - 3, 2, r.getWidth() - 3};
  const int cy[] = {2, 2, r.getHeight() - 3, r.getHeight() - 3};
  int cornersOk = 0;
  for (int k = 0; k < 4; ++k)
  {
    const juce::Colour got = shot.getPixelAt(cx[k], cy[k]), want = bgImage.getPixelAt(cx[k], cy[k]);
    if (std::abs(got.getRed() - want.getRed()) <= 8 && std::abs(got.getGreen() - want.getGreen()) <= 8 &&
        std::abs(got.getBlue() - want.getBlue()) <= 8)
      ++cornersOk;
  }
  Check(cornersOk == 4, "editor corners are the background's", Fmt("%g of 4", cornersOk));
  if (snapshotFile != juce::File())
  {
    snapshotFile.deleteFile();
    juce::FileOutputStream os(snapshotFile);
    juce::PNGImageFormat png;
    Check(os.openedOk() && png.writeImageToStream(shot, os), "snapshot written",
          snapshotFile.getFullPathName().toStdString());
  }
}

void CheckEditor(Host& host, const juce::String& bundle, const juce::File& snapshotFile)
{
  std::string err;
  auto p = host.Make(err);
  if (!Check(p != nullptr, "instance for the editor", err))
    return;
  Prepare(*p, false);
  Check(p->hasEditor(), "plug-in has an editor");
  XSetErrorHandler(CountXError);
  Display* d = XOpenDisplay(nullptr);
  if (!Check(d != nullptr, "test connection to the X server"))
    return;
  // JUCE makes a hidden window of its own on first use: count from the end
  // of the first cycle, so that only windows the cycles leave behind show.
  int windowsBefore = -1;

  constexpr int kCycles = 20;
  int opened = 0, rightSize = 0;
  std::string sizes;
  for (int cycle = 0; cycle < kCycles; ++cycle)
  {
    std::unique_ptr<juce::AudioProcessorEditor> ed(p->createEditor());
    if (!ed)
      continue;
    ++opened;
    if (ed->getWidth() == 786 && ed->getHeight() == 483)
      ++rightSize;
    else
      sizes += Fmt("%gx%g ", ed->getWidth(), ed->getHeight());
    ed->setTopLeftPosition(40, 30);
    ed->addToDesktop(0);
    ed->setVisible(true);
    Pump(cycle == 0 ? 1500 : 150);
    if (cycle == 0)
    {
      Check(ed->getWidth() == 786 && ed->getHeight() == 483, "editor is 786 x 483 on screen",
            Fmt("%g x %g", ed->getWidth(), ed->getHeight()));
      XSync(d, False);
      CheckEditorPixels(d, ed->getScreenBounds(),
                        juce::File(bundle).getChildFile("Contents/Resources/bg.png"), snapshotFile);
    }
    ed->removeFromDesktop();
    ed.reset();
    Pump(30);
    if (cycle == 0)
    {
      XSync(d, False);
      windowsBefore = TopLevelWindows(d);
    }
  }
  Check(opened == kCycles, "editor opened every time", Fmt("%g of %g", opened, kCycles));
  Check(rightSize == kCycles, "editor reports 786 x 483 every time", sizes);
  Pump(200);
  XSync(d, False);
  const int windowsAfter = TopLevelWindows(d);
  Check(windowsAfter == windowsBefore, "no windows left behind after closing",
        Fmt("%g top-level windows after one cycle, %g after all", windowsBefore, windowsAfter));
  XCloseDisplay(d);
  if (gXErrors)
    std::printf("note: %d X errors on the host's connections (not the editor's own)\n", gXErrors);

  // The instance still works after all that.
  auto out = Render<float>(*p, [](int, int f) { return Nyquist(f); }, 4 * kBlock);
  Check(std::fabs(std::fabs(out[0].back()) - kPreampAtOne) < 0.05,
        "instance still processes after the editor cycles", Fmt("%.4f", std::fabs(out[0].back())));
}
} // namespace

// fontconfig keeps a process-wide configuration that only FcFini frees, which
// no plug-in may call. JUCE unloads the module at exit and fontconfig with it,
// so the leak checker would see that configuration from an unknown module:
// keep the library loaded and tell the checker about it by name.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
  return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv)
{
  dlopen("libfontconfig.so.1", RTLD_NOW | RTLD_NODELETE);
  int arg = 1;
  bool editor = false;
  juce::File snapshotFile;
  if (argc > 2 && std::string(argv[1]) == "--editor")
  {
    editor = true;
    snapshotFile = juce::File(juce::String(argv[2]));
    arg = 3;
  }
  if (argc <= arg)
  {
    std::fprintf(stderr, "usage: %s [--editor <snapshot.png>] <Tavlo.vst3>\n", argv[0]);
    return 2;
  }
  Xvfb xvfb;
  if (editor)
  {
    // JUCE opens its display connection on first use: the server has to be
    // there before that.
    if (!xvfb.Start())
    {
      std::printf("FAIL  private Xvfb could not be started\n0 passed, 1 failed\n");
      return 1;
    }
    setenv("DISPLAY", xvfb.Display().c_str(), 1);
  }
  else
  {
    unsetenv("DISPLAY");
  }
  juce::ScopedJuceInitialiser_GUI juceRuntime;
  const juce::String bundle = juce::File(juce::String(argv[arg])).getFullPathName();

  Host host;
  juce::OwnedArray<juce::PluginDescription> types;
  Check(host.format.fileMightContainThisPluginType(bundle), "JUCE accepts the bundle path",
        bundle.toStdString());
  host.format.findAllTypesForFile(types, bundle);
  Check(types.size() == 1, "one plug-in class found", Fmt("%g", types.size()));
  if (types.size() < 1)
  {
    std::printf("%d passed, %d failed\n", gPassed, gFailed);
    return 1;
  }
  host.desc = *types[0];
  if (editor)
  {
    CheckEditor(host, bundle, snapshotFile);
    std::printf("%d passed, %d failed\n", gPassed, gFailed);
    return (gFailed == 0 && gPassed > 0) ? 0 : 1;
  }
  CheckDescription(host.desc);

  std::string err;
  auto probe = host.Make(err);
  Check(probe != nullptr, "instance created", err);
  if (probe)
  {
    Check(probe->supportsDoublePrecisionProcessing(), "double precision supported");
    // No oversampling yet, so no delay; the tail covers the longest release.
    Check(probe->getLatencySamples() == 0 && std::fabs(probe->getTailLengthSeconds() - 0.5) < 0.01,
          "no latency, a tail of the longest release",
          Fmt("latency %d, tail %g s", probe->getLatencySamples(), probe->getTailLengthSeconds()));
    CheckBuses(*probe);
    CheckParameters(*probe);
    probe.reset();
    CheckProcessing(host);
    CheckAutomationStep(host);
    CheckSidechain(host);
    CheckStateRoundTrip(host);
    CheckBypass(host);
  }
  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return (gFailed == 0 && gPassed > 0) ? 0 : 1;
}
