// The renderer's parts that need no plug-in: command line, parameter values
// and automation points, level and gain-reduction statistics, PCM output,
// files that only appear when committed, the embedded loop, and LV2 preset
// files.

#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "AudioFiles.h"
#include "DrumLoop.h"
#include "Lv2PresetFile.h"
#include "ParamValues.h"
#include "RenderOptions.h"
#include "RenderReport.h"
#include "RenderStats.h"

namespace {

bool Parse(std::vector<const char*> args, RenderOptions& opts, std::string& error)
{
  args.insert(args.begin(), "tavlo-render");
  return ParseRenderOptions((int)args.size(), args.data(), opts, error);
}

bool Exists(const std::string& path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string TempDir()
{
  char tmpl[] = "/tmp/tavlo-render-core-XXXXXX";
  return mkdtemp(tmpl) ? tmpl : "/tmp";
}

}  // namespace

TEST(RenderOptions, AutomationPointsInterpolateAndHoldAtBothEnds)
{
  ParamAutomation a;
  std::string error;
  ASSERT_TRUE(ParseAutomationPoints("0.5:-20,1.5:0,3:12", a.points, error)) << error;
  ASSERT_EQ(3u, a.points.size());
  EXPECT_EQ(-20.0, a.ValueAt(0.0));   // held before the first point
  EXPECT_EQ(-20.0, a.ValueAt(0.5));
  EXPECT_DOUBLE_EQ(-10.0, a.ValueAt(1.0));
  EXPECT_EQ(0.0, a.ValueAt(1.5));
  EXPECT_DOUBLE_EQ(4.0, a.ValueAt(2.0));
  EXPECT_EQ(12.0, a.ValueAt(3.0));
  EXPECT_EQ(12.0, a.ValueAt(100.0));  // and after the last

  ASSERT_TRUE(ParseAutomationPoints("2:7", a.points, error));
  EXPECT_EQ(7.0, a.ValueAt(0.0));
  EXPECT_EQ(7.0, a.ValueAt(5.0));

  for (const char* bad : {"", "1", "1:", ":1", "a:1", "1:b", "0:0,,1:1", "0:0,1:1,", "-1:0", "1:0,1:5",
                          "2:0,1:5", "0:nan", "0:1e999"})
  {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseAutomationPoints(bad, a.points, error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(RenderOptions, OptionsTakeTheirValueEitherWayAndFilesByPosition)
{
  RenderOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--set", "Input=30", "--set=Mix=50.5", "--block=64", "--precision", "64", "--bits", "24",
                     "--rate=44100", "-q", "in.wav", "out.flac"}, o, error)) << error;
  ASSERT_EQ(2u, o.sets.size());
  EXPECT_EQ("Input", o.sets[0].name);
  EXPECT_EQ("30", o.sets[0].text);
  EXPECT_EQ("Mix", o.sets[1].name);
  EXPECT_EQ("50.5", o.sets[1].text);
  EXPECT_EQ(64, o.block);
  EXPECT_EQ(64, o.precision);
  EXPECT_EQ(SampleBits::k24, o.bits);
  EXPECT_EQ(44100.0, o.rate);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(std::vector<std::string>{"in.wav"}, o.inputs);
  EXPECT_EQ("out.flac", o.output);

  // Words of a list in any case, and the aliases it takes.
  RenderOptions words;
  ASSERT_TRUE(Parse({"--format", "AIF", "--bits=32", "-j3", "-qy", "in.wav", "out"}, words, error)) << error;
  EXPECT_EQ("aiff", words.format);
  EXPECT_EQ(SampleBits::k32f, words.bits);
  EXPECT_EQ(3, words.jobs);
  EXPECT_TRUE(words.quiet && words.force);

  RenderOptions d;
  ASSERT_TRUE(Parse({"out.wav"}, d, error)) << error;
  EXPECT_TRUE(d.inputs.empty());  // the embedded loop
  EXPECT_EQ("out.wav", d.output);
  EXPECT_EQ(512, d.block);
  EXPECT_EQ(32, d.precision);
  EXPECT_EQ(SampleBits::kDefault, d.bits);

  // Only the settings, nothing rendered.
  RenderOptions settings;
  ASSERT_TRUE(Parse({"--preset", "x.ttl", "--save-preset", "x.vstpreset"}, settings, error)) << error;
  EXPECT_TRUE(settings.settingsOnly);
  EXPECT_TRUE(settings.output.empty());
  EXPECT_EQ(PresetKind::kLv2File, PresetKindOf(settings.preset));
  EXPECT_FALSE(o.settingsOnly);

  RenderOptions dash;
  ASSERT_TRUE(Parse({"--", "-odd.wav", "--out.wav"}, dash, error)) << error;
  EXPECT_EQ(std::vector<std::string>{"-odd.wav"}, dash.inputs);
  EXPECT_EQ("--out.wav", dash.output);
}

TEST(RenderOptions, MalformedLinesAreRefusedWithTheReason)
{
  struct Case { std::vector<const char*> args; const char* message; };
  const Case cases[] = {
    {{"--set", "Input", "o.wav"}, "--set expects NAME=VALUE, got 'Input'"},
    {{"--set", "=3", "o.wav"}, "--set expects NAME=VALUE"},
    {{"--set", " = 3", "o.wav"}, "--set expects NAME=VALUE"},
    {{"--block", "0", "o.wav"}, "--block must be from 1 to 65536"},
    {{"--block", "65537", "o.wav"}, "--block must be from 1 to 65536"},
    {{"--block", "12x", "o.wav"}, "--block must be from 1 to 65536"},
    {{"--rate", "7999", "o.wav"}, "--rate must be a whole number of hertz from 8000 to 768000"},
    {{"--rate", "44100.5", "o.wav"}, "--rate must be a whole number"},
    {{"--precision", "48", "o.wav"}, "--precision must be 32 or 64"},
    {{"--bits", "8", "o.wav"}, "--bits must be 16, 24 or 32f"},
    {{"--format", "mp3", "o.wav"}, "--format must be wav, flac or aiff, got 'mp3'"},
    {{"-j", "65", "o.wav"}, "--jobs must be from 1 to 64, got '65'"},
    {{"-qj", "o.wav"}, "--jobs must be from 1 to 64, got 'o.wav'"},
    {{"--json=yes", "o.wav"}, "option --json takes no value"},
    {{"--save-preset", "p.fxp", "o.wav"}, "--save-preset p.fxp: VST 3 presets are written as .vstpreset"},
    {{"--preset", "a.VSTPRESET", "--load-state", "s", "o.wav"}, "each restore a whole state; give one of them"},
    {{"--save-preset", "p.vstpreset", "--plot", "p.png"}, "without INPUT or OUTPUT only the settings are written"},
    {{"--save-state", "s", "--automate", "Mix=0:0"}, "--automate need a render"},
    {{"-o", "d", "--save-preset", "p.vstpreset", "a.wav"}, "--save-preset name one file each"},
    {{"--curve", "c.png", "--save-preset", "p.vstpreset"}, "--curve draws the curve only"},
    {{"--automate", "Mix", "o.wav"}, "--automate expects NAME=T0:V0,T1:V1"},
    {{"--automate", "Mix=0:0", "--automate", "mix=1:1", "o.wav"}, "parameter mix is automated twice"},
    {{"--set", "MIX=1", "--automate", "Mix=0:0", "o.wav"}, "parameter MIX is both set and automated"},
    {{"--plot"}, "option --plot needs a value"},
    {{"--colour", "red", "o.wav"}, "unknown option --colour"},
    {{"--outptu-dir", "d", "a.wav"}, "unknown option --outptu-dir; did you mean --output-dir? (see --help)"},
    {{"--presset", "x", "o.wav"}, "did you mean --preset?"},
    {{}, "no OUTPUT file given"},
    {{"a.wav", "b.wav", "c.wav"}, "too many files"},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.message);
    RenderOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, o, error));
    EXPECT_NE(std::string::npos, error.find(c.message)) << error;
  }
}

// A slip is named back, something else is not: one slip in four letters,
// the start of a name, any case; nothing for a name as far from all, or
// equally near two.
TEST(RenderOptions, NearestNameIsOnlyANearSlip)
{
  const std::vector<std::string> params = {"Input", "Output", "Attack", "Release", "Mix",
                                           "HPF", "Oversample", "Bypass", "Sidechain"};
  const std::pair<const char*, const char*> cases[] = {
    {"Atack", "Attack"}, {"relase", "Release"}, {"HFP", "HPF"}, {"Att", "Attack"}, {"oversampel", "Oversample"},
    {"Mx", "Mix"}, {"SIDECHAN", "Sidechain"}, {"Oputput", "Output"},
    {"Thresh", ""}, {"Ratio", ""}, {"x", ""}, {"Bpyass2", ""}, {"Put", ""}, {"", ""},
  };
  for (const auto& c : cases)
  {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(c.second, NearestName(c.first, params));
  }
  EXPECT_EQ("", NearestName("Bx", {"Ax", "Cx"}));
}

// A list is set by its values' names or numbers, and --params names them.
TEST(ParamValues, AListTakesItsNamesOrItsNumbers)
{
  static const char* const kNames[] = {"Peak", "RMS", "Slow"};
  static const IParamUnit kUnit = {"", 1.0, 0, nullptr, nullptr, "", false, kNames, 3};
  ParamDesc d;
  d.name = "List";
  d.max = 2.0;
  d.stepCount = 2;
  d.unit = &kUnit;
  EXPECT_EQ("Peak, RMS or Slow (or 0 to 2)", DescribeRange(d));
  EXPECT_EQ((std::vector<std::string>{"peak", "rms", "slow"}), ValueWords(d));
  double plain = -1.0;
  std::string error;
  ASSERT_TRUE(ParseParamValue(d, "slow", plain, error)) << error;
  EXPECT_EQ(2.0, plain);
  ASSERT_TRUE(ParseParamValue(d, "1", plain, error)) << error;
  EXPECT_EQ(1.0, plain);
  EXPECT_FALSE(ParseParamValue(d, "Medium", plain, error));
}

TEST(RenderStats, LevelsAndGainReductionOfSteadySignals)
{
  // One second at 1 kHz sample rate: 10-frame windows. Input 0.5, output
  // 0.25 with no make-up gain: 6.02 dB of reduction in every window.
  RenderStats s(1000.0, 1000, 100);
  std::vector<double> in(2000, 0.5), out(2000, 0.25);
  in[1] = -0.8;  // one louder sample on the right channel
  s.Add(in.data(), out.data(), 1000, 1.0);
  s.Finish();
  EXPECT_EQ(1000, s.Frames());
  EXPECT_NEAR(20 * std::log10(0.8), s.PeakInDb(), 1e-9);
  EXPECT_NEAR(20 * std::log10(0.25), s.PeakOutDb(), 1e-9);
  EXPECT_NEAR(20 * std::log10(0.25), s.RmsOutDb(), 1e-9);
  // The first window holds the louder sample: its input energy is
  // 19 x 0.25 + 0.64 against 20 x 0.0625 out. The other 99 read 6.02 dB.
  const double first = -10 * std::log10((20 * 0.0625) / (19 * 0.25 + 0.64));
  const double rest = -20 * std::log10(0.5);
  EXPECT_NEAR(first, s.MaxGrDb(), 1e-9);
  EXPECT_NEAR((first + 99 * rest) / 100, s.AvgGrDb(), 1e-9);
  ASSERT_EQ(100u, s.Columns().size());
  EXPECT_EQ(10, s.FramesPerColumn());
  EXPECT_EQ(-0.8f, s.Columns()[0].inMin);
  EXPECT_EQ(0.5f, s.Columns()[0].inMax);
  EXPECT_EQ(0.5f, s.Columns()[1].inMin);
  EXPECT_EQ(0.25f, s.Columns()[99].outMax);
  EXPECT_NEAR(6.0206f, s.Columns()[50].grMax, 1e-3);

  // The same drop entirely explained by the make-up gain: no reduction.
  RenderStats g(1000.0, 1000, 100);
  std::vector<double> in2(2000, 0.5);
  g.Add(in2.data(), out.data(), 1000, 0.5);
  g.Finish();
  EXPECT_NEAR(0.0, g.MaxGrDb(), 1e-9);
  EXPECT_NEAR(0.0, g.AvgGrDb(), 1e-9);
  // Louder than expected is not negative reduction either.
  RenderStats up(1000.0, 1000, 100);
  up.Add(out.data(), in2.data(), 1000, 1.0);
  up.Finish();
  EXPECT_EQ(0.0, up.MaxGrDb());
}

TEST(RenderStats, QuietWindowsAreNotReadAndBlocksOfAnySizeAgree)
{
  // Half a second below -50 dBFS with its output silenced, then half a
  // second at 0.5 with 3 dB of reduction: only the loud half counts.
  const int n = 1000;
  std::vector<double> in(2 * n), out(2 * n);
  for (int i = 0; i < n; ++i)
  {
    const double v = i < n / 2 ? 0.001 : 0.5;
    const double o = i < n / 2 ? 0.0 : 0.5 * std::pow(10.0, -3.0 / 20.0);
    in[2 * i] = in[2 * i + 1] = v;
    out[2 * i] = out[2 * i + 1] = o;
  }
  RenderStats whole(1000.0, n, 50);
  whole.Add(in.data(), out.data(), n, 1.0);
  whole.Finish();
  EXPECT_NEAR(3.0, whole.MaxGrDb(), 1e-9);
  EXPECT_NEAR(3.0, whole.AvgGrDb(), 1e-9);
  EXPECT_EQ(0.0f, whole.Columns()[0].grMax);  // quiet columns show nothing yet
  EXPECT_NEAR(3.0f, whole.Columns()[49].grMax, 1e-5);

  // Fed in blocks of 7 frames the numbers are the same.
  RenderStats pieces(1000.0, n, 50);
  for (int at = 0; at < n; at += 7)
  {
    const int len = std::min(7, n - at);
    pieces.Add(in.data() + 2 * at, out.data() + 2 * at, len, 1.0);
  }
  pieces.Finish();
  EXPECT_EQ(whole.MaxGrDb(), pieces.MaxGrDb());
  EXPECT_EQ(whole.AvgGrDb(), pieces.AvgGrDb());
  EXPECT_EQ(whole.RmsInDb(), pieces.RmsInDb());
}

TEST(RenderStats, AnUnknownLengthGetsColumnsThatCoverWhatCame)
{
  // 1000 frames of a rising ramp, length not known: the columns double in
  // width as they fill, and end holding every frame once.
  RenderStats s(1000.0, -1, 100);
  std::vector<double> in(2000), out(2000);
  for (int i = 0; i < 1000; ++i)
  {
    in[2 * i] = in[2 * i + 1] = i / 1000.0;
    out[2 * i] = -i / 1000.0;
    out[2 * i + 1] = 0.0;
  }
  for (int at = 0; at < 1000; at += 37)
    s.Add(in.data() + 2 * at, out.data() + 2 * at, std::min(37, 1000 - at), 1.0);
  s.Finish();
  EXPECT_EQ(8, s.FramesPerColumn());
  ASSERT_EQ(125u, s.Columns().size());  // 1000 / 8: at least the 100 asked for
  for (size_t c = 0; c < s.Columns().size(); ++c)
  {
    SCOPED_TRACE(c);
    const int first = 8 * (int)c, last = first + 7;
    EXPECT_EQ((float)(first / 1000.0), s.Columns()[c].inMin);
    EXPECT_EQ((float)(last / 1000.0), s.Columns()[c].inMax);
    EXPECT_EQ((float)(-last / 1000.0), s.Columns()[c].outMin);
  }
}

TEST(AudioFiles, PcmIsRoundedAndClippedAndReadsBackSampleForSample)
{
  const std::string dir = TempDir();
  struct Case { SampleBits bits; double scale; };
  for (const Case& c : {Case{SampleBits::k16, 32768.0}, Case{SampleBits::k24, 8388608.0}})
  {
    SCOPED_TRACE(c.scale);
    const std::string path = dir + "/pcm.wav";
    OutputFormat format;
    std::string error;
    ASSERT_TRUE(ChooseOutputFormat(path, c.bits, format, error)) << error;
    const double q = 1.0 / c.scale;
    // Exact codes, a value between two codes, both ends, beyond both ends, NaN.
    const std::vector<double> values = {0.0, 0.5, -0.5, 3 * q, 2.4 * q, -2.6 * q, -1.0, 1.0 - q, 1.0,
                                        7.5, -1.0 - q, -9.0, NAN, 0.25};
    const std::vector<double> expect = {0.0, 0.5, -0.5, 3 * q, 2 * q, -3 * q, -1.0, 1.0 - q, 1.0 - q,
                                        1.0 - q, -1.0, -1.0, 0.0, 0.25};
    {
      AudioSink sink(path, format, 48000);
      ASSERT_TRUE(sink.IsOpen()) << sink.Error();
      ASSERT_TRUE(sink.Write(values.data(), (int64_t)values.size() / 2));
      EXPECT_FALSE(Exists(path));  // not before the commit
      ASSERT_TRUE(sink.Commit(error)) << error;
    }
    std::unique_ptr<AudioSource> src = OpenAudioFile(path, error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(2, src->Channels());
    std::vector<double> back(values.size());
    ASSERT_EQ((int64_t)values.size() / 2, src->Read(back.data(), 100));
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(expect[i], back[i]) << "value " << i;
    unlink(path.c_str());
  }
  rmdir(dir.c_str());
}

TEST(AudioFiles, FormatFollowsTheExtension)
{
  OutputFormat f;
  std::string error;
  ASSERT_TRUE(ChooseOutputFormat("a/b.WAV", SampleBits::kDefault, f, error));
  EXPECT_EQ(SF_FORMAT_WAV | SF_FORMAT_FLOAT, f.sfFormat);
  ASSERT_TRUE(ChooseOutputFormat("b.aif", SampleBits::k16, f, error));
  EXPECT_EQ(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, f.sfFormat);
  ASSERT_TRUE(ChooseOutputFormat("b.aiff", SampleBits::k32f, f, error));
  EXPECT_EQ(SF_FORMAT_AIFF | SF_FORMAT_FLOAT, f.sfFormat);
  ASSERT_TRUE(ChooseOutputFormat("b.flac", SampleBits::kDefault, f, error));
  EXPECT_EQ(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, f.sfFormat);
  EXPECT_FALSE(ChooseOutputFormat("b.flac", SampleBits::k32f, f, error));
  EXPECT_FALSE(ChooseOutputFormat("b.ogg", SampleBits::kDefault, f, error));
  EXPECT_FALSE(ChooseOutputFormat("dir.wav/b", SampleBits::kDefault, f, error));  // no extension
  EXPECT_NE(std::string::npos, error.find("cannot tell the format of dir.wav/b"));
}

TEST(AudioFiles, PendingFilesAppearOnlyWhenCommitted)
{
  const std::string dir = TempDir();
  std::string error;
  {
    PendingFile kept(dir + "/kept.bin");
    PendingFile dropped(dir + "/dropped.bin");
    EXPECT_EQ(dir + "/.kept.bin.partial-" + std::to_string(getpid()), kept.TempPath());
    ASSERT_TRUE(WriteWholeFile(kept, {1, 2, 3}, error)) << error;
    ASSERT_TRUE(WriteWholeFile(dropped, {4}, error)) << error;
    EXPECT_TRUE(Exists(dropped.TempPath()));
    ASSERT_TRUE(kept.Commit(error)) << error;
    EXPECT_FALSE(kept.Commit(error));  // once only
  }
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(dir + "/kept.bin", bytes, error)) << error;
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), bytes);
  EXPECT_FALSE(Exists(dir + "/dropped.bin"));
  EXPECT_FALSE(Exists(dir + "/.dropped.bin.partial-" + std::to_string(getpid())));

  // What a signal handler does: every temporary file still pending goes.
  PendingFile a(dir + "/a.bin"), b(dir + "/b.bin");
  ASSERT_TRUE(WriteWholeFile(a, {1}, error));
  ASSERT_TRUE(WriteWholeFile(b, {2}, error));
  RemovePendingFilesNow();
  EXPECT_FALSE(Exists(a.TempPath()));
  EXPECT_FALSE(Exists(b.TempPath()));
  a.Discard();
  b.Discard();
  unlink((dir + "/kept.bin").c_str());
  rmdir(dir.c_str());
}

TEST(DrumLoop, EightSecondsOfSixBarsWithTheKickOnTheBeat)
{
  for (double rate : {44100.0, 48000.0, 96000.0})
  {
    SCOPED_TRACE(rate);
    const std::vector<float> loop = SynthesizeDrumLoop(rate);
    ASSERT_EQ((size_t)(2 * 8 * rate), loop.size());
    float peak = 0;
    for (float v : loop) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(-0.3, 20 * std::log10(peak), 1e-3);
    EXPECT_EQ(loop, SynthesizeDrumLoop(rate));

    // Energy of 20 ms just after each bar line (kick) against the 20 ms
    // just before it (a decaying tail): every bar starts with a hit.
    auto energy = [&](double from, double to) {
      double e = 0;
      for (size_t i = (size_t)(from * rate); i < (size_t)(to * rate); ++i) e += loop[2 * i] * loop[2 * i];
      return e;
    };
    const double bar = 4 * 60.0 / kDrumLoopBpm;
    for (int b = 1; b < 6; ++b) EXPECT_GT(energy(b * bar, b * bar + 0.02), 2.0 * energy(b * bar - 0.02, b * bar)) << b;
  }
}

TEST(RenderReport, ProgressLineFitsTheTerminalAndCountsDown)
{
  struct Case
  {
    double fraction, elapsed, audio;
    int done, files, width;
    const char* expect;
  };
  const Case cases[] = {
    {0.25, 3.0, 300.0, 0, 1, 80, "[############......................................]  25%  100x  ETA 0:09"},
    {0.5, 60.0, 6000.0, 2, 5, 60, "  50%  2/5 files  100x  ETA 1:00"},
    {0.01, 40.0, 400.0, 0, 1, 40, "   1%  10x  ETA 1:06:00"},
    {0.9, 9.0, 90.0, 0, 1, 20, " 90%  10x  ETA 0:01"},  // too narrow for a bar
    {0.9, 9.0, 90.0, 3, 4, 20, " 90%  3/4 files  10"},  // and cut, never wrapped
    {0.0, 0.0, 0.0, 0, 1, 30, "[......................]   0%"},
    {-1.0, 65.0, 650.0, 3, 4, 80, "1:05  3/4 files  10x"},  // length unknown: no bar, no ETA
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.expect);
    const std::string line = ProgressLine(c.fraction, c.elapsed, c.audio, c.done, c.files, c.width);
    EXPECT_LT((int)line.size(), c.width);
    EXPECT_NE(std::string::npos, line.find(c.expect)) << line;
  }
}

TEST(RenderReport, JsonStringsAreUnicodeWhateverBytesANameHolds)
{
  struct Case
  {
    const char* bytes;
    const char* json;
  };
  const Case cases[] = {
    {"take.wav", "\"take.wav\""},
    {"a\"b\\c\n", "\"a\\\"b\\\\c\\u000a\""},
    {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5\""},  // kept whole
    {"caf\xe9.wav", "\"caf\\ufffd.wav\""},             // Latin-1
    {"\xc0\xaf", "\"\\ufffd\\ufffd\""},                    // an overlong '/'
    {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},          // a surrogate
    {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""}, // past U+10FFFF
    {"end\xe2\x82", "\"end\\ufffd\\ufffd\""},               // cut short
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(c.json, JsonString(c.bytes));
  }
}

// Plain decimals, as jq users and spreadsheets read them, never an exponent,
// and the fewest digits that read back as the same double.
TEST(RenderReport, JsonNumbersArePlainDecimalsThatReadBackExactly)
{
  struct Case
  {
    double value;
    const char* json;
  };
  const Case cases[] = {
    {48000, "48000"}, {100, "100"}, {-60, "-60"}, {0.1, "0.1"}, {0.00001, "0.00001"},
    {-0.30000014137494, "-0.30000014137494"}, {0.1 + 0.2, "0.30000000000000004"}, {1.5e21, "1500000000000000000000"},
    {0.0, "0"}, {INFINITY, "null"}, {NAN, "null"},
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(c.json, JsonNumber(c.value));
  }
}

// LV2 presets in the shapes hosts write them: lilv's (Ardour, jalv, Carla,
// Qtractor), typed literals and an explicit base, a bundle's manifest that
// points at the preset's own file, several presets in one file; broken
// files are refused with the line, never half read.
TEST(Lv2PresetFile, PresetsAreReadAsHostsWriteThemAndBrokenFilesRefused)
{
  const std::string dir = TempDir();
  auto write = [&](const char* name, const std::string& text) {
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    return dir + "/" + name;
  };
  const std::string prefixes =
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .\n";
  const std::string lilv = prefixes +
    "<>\n\ta pset:Preset ;\n\tlv2:appliesTo <https://quillmarshworks.example/plugins/tavlo> ;\n"
    "\trdfs:label \"Mine\" ;\n\tlv2:port [\n\t\tlv2:symbol \"attack\" ;\n\t\tpset:value 0.002\n\t] , [\n"
    "\t\tlv2:symbol \"input\" ;\n\t\tpset:value 45.0\n\t] , [\n\t\tlv2:symbol \"enabled\" ;\n\t\tpset:value 1.0\n\t] .\n";
  const std::string mine = write("Mine.ttl", lilv);
  write("manifest.ttl", prefixes + "<Mine.ttl>\n\tlv2:appliesTo <https://quillmarshworks.example/plugins/tavlo> ;\n"
                                   "\ta pset:Preset ;\n\trdfs:seeAlso <Mine.ttl> .\n");
  const std::string typed = write(
    "typed.ttl", prefixes + "@base <http://example.org/presets/> .\n<soft> a pset:Preset ; lv2:appliesTo <urn:x> ;\n"
                            "  lv2:port [ lv2:symbol \"mix\" ; pset:value \"5e1\"^^xsd:float ] ,\n"
                            "           [ pset:value \"1\"^^xsd:int ; lv2:symbol \"oversample\" ] .\n");
  const std::string two = write("two.ttl", prefixes + "<#a> a pset:Preset ; rdfs:label \"A\" ; lv2:port [ lv2:symbol "
                                                      "\"mix\" ; pset:value 1 ] .\n<#b> a pset:Preset ; rdfs:label "
                                                      "\"B\" .\n");

  struct Good
  {
    std::string path;
    const char* label;
    const char* plugin;
    std::vector<std::pair<std::string, double>> ports;
  };
  const Good good[] = {
    {mine, "Mine", "https://quillmarshworks.example/plugins/tavlo", {{"attack", 0.002}, {"input", 45}, {"enabled", 1}}},
    {dir + "/manifest.ttl", "Mine", "https://quillmarshworks.example/plugins/tavlo",
     {{"attack", 0.002}, {"input", 45}, {"enabled", 1}}},
    {typed, "", "urn:x", {{"mix", 50}, {"oversample", 1}}},
  };
  for (const Good& g : good)
  {
    SCOPED_TRACE(g.path);
    std::vector<Lv2Preset> presets;
    std::string error;
    ASSERT_TRUE(ReadLv2Presets(g.path, presets, error)) << error;
    ASSERT_EQ(1u, presets.size());
    EXPECT_EQ(g.label, presets[0].label);
    EXPECT_EQ(g.plugin, presets[0].plugin);
    EXPECT_EQ(g.ports, presets[0].ports);
  }
  std::vector<Lv2Preset> presets;
  std::string error;
  ASSERT_TRUE(ReadLv2Presets(two, presets, error)) << error;
  ASSERT_EQ(2u, presets.size());
  EXPECT_EQ("A", presets[0].label);
  EXPECT_EQ("B", presets[1].label);
  EXPECT_TRUE(presets[1].ports.empty());

  // Large files within the size limit read at once (each statement looked
  // at a few times, not once per preset and port): one preset of 100,000
  // ports, and a manifest of 20,000 presets all described in one file.
  {
    std::string ports = prefixes + "<> a pset:Preset ; lv2:port ";
    for (int i = 0; i < 100000; ++i) ports += (i ? ", " : "") + std::string("[ lv2:symbol \"p\" ; pset:value 1 ]");
    ASSERT_TRUE(ReadLv2Presets(write("many-ports.ttl", ports + " .\n"), presets, error)) << error;
    ASSERT_EQ(1u, presets.size());
    EXPECT_EQ(100000u, presets[0].ports.size());
    std::string manifest = prefixes, described = prefixes;
    for (int i = 0; i < 20000; ++i)
    {
      const std::string uri = "<described.ttl#p" + std::to_string(i) + ">";
      manifest += uri + " a pset:Preset ; rdfs:seeAlso <described.ttl> .\n";
      described += uri + " a pset:Preset ; lv2:port [ lv2:symbol \"mix\" ; pset:value " + std::to_string(i) + " ] .\n";
    }
    write("described.ttl", described);
    ASSERT_TRUE(ReadLv2Presets(write("many-presets.ttl", manifest), presets, error)) << error;
    ASSERT_EQ(20000u, presets.size());
    EXPECT_EQ(19999.0, presets.back().ports.at(0).second);
  }

  struct Bad
  {
    std::string text;
    const char* message;
  };
  // Brackets nested far deeper than any preset, which the Turtle reader
  // would recurse into until it ran out of stack: refused before reading.
  std::string nested = prefixes + "<> a pset:Preset ; lv2:port ";
  for (int i = 0; i < 20000; ++i) nested += "[ lv2:symbol \"x\" ; rdfs:label ";
  nested += "\"end\"";
  for (int i = 0; i < 20000; ++i) nested += " ]";
  const Bad bad[] = {
    {nested + " .\n", "nests brackets more than 32 deep"},
    {"garbage here\n", "as Turtle: line 1"},
    {prefixes + "<> a pset:Preset ; lv2:port [ lv2:symbol \"mix\" ; pset:value \"lots\" ] .\n",
     "port mix has the value 'lots', not a number"},
    {prefixes + "<> a pset:Preset ; nope:port [ ] .\n", "as Turtle"},
    {prefixes + "<> a pset:Preset ; rdfs:label \"cut\n", "as Turtle"},
    {std::string("\0\1\2", 3), "not Turtle text"},
  };
  for (const Bad& b : bad)
  {
    SCOPED_TRACE(b.message);
    const std::string path = write("bad.ttl", b.text);
    presets.assign(1, Lv2Preset());
    error.clear();
    EXPECT_FALSE(ReadLv2Presets(path, presets, error));
    EXPECT_TRUE(presets.empty());
    EXPECT_NE(std::string::npos, error.find(b.message)) << error;
    EXPECT_NE(std::string::npos, error.find("bad.ttl")) << error;
  }
  EXPECT_FALSE(ReadLv2Presets(dir + "/none.ttl", presets, error));
  EXPECT_NE(std::string::npos, error.find("cannot open")) << error;
}
