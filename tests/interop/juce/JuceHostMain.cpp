// Loads the built Tavlo.vst3 through JUCE's VST 3 hosting classes, as a
// JUCE-based host would, and checks what such a host sees and hears.
// Prints one line per check and "N passed, M failed"; exits non-zero on any
// failure. Usage: tavlo_juce_host <path to Tavlo.vst3>

#include <JuceHeader.h>

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

void Check(bool ok, const std::string& name, const std::string& detail = {})
{
  (ok ? gPassed : gFailed)++;
  std::printf("%s  %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : ": ",
              detail.c_str());
  std::fflush(stdout);
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
  Check(names == "Preset,Bypass,Input,Output,Attack,Release,Mix,HPF,Oversample,Bypass,Sidechain,",
        "parameter list in host order", names);

  auto* bypass = p.getBypassParameter();
  Check(bypass != nullptr && bypass == params[1], "host bypass parameter recognised",
        bypass ? bypass->getName(128).toStdString() : "none");
  if (bypass)
  {
    Check(bypass->getNumSteps() == 2 && bypass->getValue() == 0.0f, "bypass is a two-state switch, off",
          Fmt("steps %g value %g", bypass->getNumSteps(), bypass->getValue()));
  }

  // Ranges through the text of the end points and of the default.
  struct Want { const char* name; const char* lo; const char* hi; float def; const char* label; };
  const Want want[] = {
      {"Input", "0.00", "400.00", 0.0f, "%"},     {"Output", "-20.00", "20.00", 0.5f, "%"},
      {"Attack", "0.00", "0.01", -1.0f, "%"},     {"Release", "0.10", "0.50", -1.0f, "%"},
      {"Mix", "0.00", "100.00", 1.0f, "%"},       {"HPF", "20.00", "500.00", 0.0f, "%"},
      {"Oversample", "0", "1", 0.0f, ""},         {"Sidechain", "0", "1", 1.0f, ""},
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
  // the way up the range (0.1 + 0.4 / 4 = 0.20 s).
  if (auto* rel = ParamByName(p, "Release"))
    Check(rel->getText(0.5f, 32) == "0.20", "Release at normalised 0.5 reads 0.20",
          rel->getText(0.5f, 32).toStdString());
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
    return Check(false, "instance for automation", err);
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
      return Check(false, "instance for side-chain", err);
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
    return Check(false, "instances for state", err);
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
    Check(mix->getText(mix->getValue(), 32) == "80.00", "restored Mix reads 80.00",
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

// The host's bypass parameter: output equals input exactly, and switching it
// off again resumes processing.
void CheckBypass(Host& host)
{
  std::string err;
  auto p = host.Make(err);
  if (!p)
    return Check(false, "instance for bypass", err);
  Prepare(*p, false);
  // Output -6 dB (normalised 0.35) makes processed blocks plainly different.
  SetPlain(ParamByName(*p, "Output"), 0.35);
  auto* bypass = p->getBypassParameter();
  if (!bypass)
    return Check(false, "bypass parameter", "missing");
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
    for (int i = 2 * kBlock; i < 6 * kBlock; ++i)
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

} // namespace

int main(int argc, char** argv)
{
  if (argc < 2)
  {
    std::fprintf(stderr, "usage: %s <Tavlo.vst3>\n", argv[0]);
    return 2;
  }
  juce::ScopedJuceInitialiser_GUI juceRuntime;
  const juce::String bundle = juce::File(juce::String(argv[1])).getFullPathName();

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
  CheckDescription(host.desc);

  std::string err;
  auto probe = host.Make(err);
  Check(probe != nullptr, "instance created", err);
  if (probe)
  {
    Check(probe->supportsDoublePrecisionProcessing(), "double precision supported");
    Check(probe->getLatencySamples() == 0 && probe->getTailLengthSeconds() == 0.0, "no latency, no tail");
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
