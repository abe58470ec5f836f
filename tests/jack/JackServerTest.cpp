// tavlo-jack as a user runs it: a private jackd with the dummy backend, a
// player and a recorder client of the test's own, a small NSM server on the
// loopback address, and Xvfb for the editor.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <lo/lo.h>
#include <signal.h>
#include <sndfile.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "XvfbSession.h"
#include "tavlo/TavloParams.h"

namespace {

constexpr int kRate = 48000, kPeriod = 256;
const std::string kTmp = ::testing::TempDir();

double NowMs()
{
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Required() { return getenv("TAVLO_REQUIRE_HOSTS") && std::string(getenv("TAVLO_REQUIRE_HOSTS")) == "1"; }

// A child process with its standard output read line by line.
struct Child
{
  pid_t pid = -1;
  int out = -1;
  std::string text;

  void Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
  {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid = fork();
    if (pid == 0)
    {
      // Nothing outlives a test process that dies.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(fds[1], 1);
      close(fds[0]);
      for (const std::string& e : env) putenv(strdup(e.c_str()));
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(strdup(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
  }
  // Reads until text holds what, or ms pass.
  bool WaitFor(const std::string& what, int ms)
  {
    const double until = NowMs() + ms;
    while (text.find(what) == std::string::npos && NowMs() < until)
    {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(out, &set);
      timeval tv = {0, 20000};
      if (select(out + 1, &set, nullptr, nullptr, &tv) > 0)
      {
        char buf[512];
        const ssize_t n = read(out, buf, sizeof(buf));
        if (n <= 0) break;
        text.append(buf, (size_t)n);
      }
    }
    return text.find(what) != std::string::npos;
  }
  // SIGTERM, then the exit status (-1: it had to be killed).
  int Stop(int sig = SIGTERM)
  {
    if (pid <= 0) return -1;
    kill(pid, sig);
    int status = 0;
    for (int i = 0; i < 500; ++i)
    {
      if (waitpid(pid, &status, WNOHANG) == pid)
      {
        WaitFor("\x01", 50);  // what it printed at exit
        close(out);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
    return -1;
  }
  ~Child() { Stop(SIGKILL); }
};

// The private server of this test process.
class JackServer
{
public:
  static JackServer& Shared()
  {
    static JackServer server;
    return server;
  }
  bool Running() const { return mRunning; }
  // A jackd of this test's own, which keeps metadata without a session
  // manager (PipeWire's needs one).
  bool Own() const { return mPid > 0; }
  const std::string& Error() const { return mError; }

private:
  JackServer()
  {
    // TAVLO_JACK_TEST_RUNNING=1: the server this process finds already
    // runs (PipeWire's, under pw-jack), rather than a jackd of its own.
    if (getenv("TAVLO_JACK_TEST_RUNNING") && std::string(getenv("TAVLO_JACK_TEST_RUNNING")) == "1")
    {
      jack_status_t status;
      if (jack_client_t* c = jack_client_open("probe", JackNoStartServer, &status))
      {
        jack_client_close(c);
        mRunning = true;
      }
      else
        mError = "no JACK server is running";
      return;
    }
    if (access("/usr/bin/jackd", X_OK) != 0)
    {
      mError = "jackd is not installed (Debian package jackd2)";
      return;
    }
    const std::string name = "tavlotest" + std::to_string(getpid());
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jack_set_error_function([](const char*) {});
    mPid = fork();
    if (mPid == 0)
    {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      // Synchronous (-S): each period waits for every client, so a busy
      // machine delays the recording rather than dropping a period of it.
      execl("/usr/bin/jackd", "jackd", "-S", "-t", "5000", "-n", name.c_str(), "-d", "dummy", "-r",
            std::to_string(kRate).c_str(), "-p", std::to_string(kPeriod).c_str(), (char*)nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && !mRunning; ++i)
    {
      usleep(50000);
      jack_status_t status;
      if (jack_client_t* c = jack_client_open("probe", JackNoStartServer, &status))
      {
        jack_client_close(c);
        mRunning = true;
      }
    }
    if (!mRunning) mError = "jackd -d dummy did not start";
  }
  ~JackServer()
  {
    if (mPid > 0)
    {
      kill(mPid, SIGTERM);
      waitpid(mPid, nullptr, 0);
    }
  }
  pid_t mPid = -1;
  bool mRunning = false;
  std::string mError;
};

// Plays a signal into tavlo-jack and records what comes out, from the same
// period on; MIDI messages go out at their frames of the signal.
class PlayRecord
{
public:
  struct Midi
  {
    size_t frame;
    std::vector<uint8_t> bytes;
  };

  PlayRecord(const std::vector<float>& signal, std::vector<Midi> midi) : mSignal(signal), mMidi(std::move(midi))
  {
    mRec[0].assign(signal.size() + 8 * 4096, 0.f);
    mRec[1].assign(signal.size() + 8 * 4096, 0.f);
  }
  ~PlayRecord()
  {
    for (jack_client_t* c : {mPlayer, mRecorder})
      if (c) jack_client_close(c);
  }

  bool Open(const std::string& tavlo)
  {
    jack_status_t status;
    mPlayer = jack_client_open("player", JackNoStartServer, &status);
    mRecorder = jack_client_open("recorder", JackNoStartServer, &status);
    if (!mPlayer || !mRecorder) return false;
    mOut[0] = jack_port_register(mPlayer, "L", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    mOut[1] = jack_port_register(mPlayer, "R", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    mMidiOut = jack_port_register(mPlayer, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    mIn[0] = jack_port_register(mRecorder, "L", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    mIn[1] = jack_port_register(mRecorder, "R", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(mPlayer, OnPlay, this);
    jack_set_process_callback(mRecorder, OnRecord, this);
    if (jack_activate(mPlayer) || jack_activate(mRecorder)) return false;
    const std::string t = tavlo + ":";
    return !jack_connect(mPlayer, "player:L", (t + "in_L").c_str()) &&
           !jack_connect(mPlayer, "player:R", (t + "in_R").c_str()) &&
           !jack_connect(mPlayer, "player:midi", (t + "midi_in").c_str()) &&
           !jack_connect(mPlayer, (t + "out_L").c_str(), "recorder:L") &&
           !jack_connect(mPlayer, (t + "out_R").c_str(), "recorder:R");
  }
  // Plays the whole signal; at half of it the period size becomes
  // newPeriod when that is not 0.
  bool Play(int newPeriod = 0)
  {
    mPlaying = true;
    const double until = NowMs() + 20000;
    bool changed = newPeriod == 0;
    while (mRecorded.load() < mSignal.size() + 2048 && NowMs() < until)
    {
      if (!changed && mPlayed.load() > mSignal.size() / 2)
      {
        changed = true;
        if (jack_set_buffer_size(mPlayer, (jack_nframes_t)newPeriod) != 0) return false;
      }
      usleep(5000);
    }
    // The server's own period again for whatever runs next.
    if (newPeriod != 0) jack_set_buffer_size(mPlayer, kPeriod);
    return mRecorded.load() >= mSignal.size() + 2048;
  }
  const std::vector<float>& Recording(int c) const { return mRec[c]; }

private:
  static int OnPlay(jack_nframes_t n, void* arg)
  {
    auto* self = static_cast<PlayRecord*>(arg);
    void* midi = jack_port_get_buffer(self->mMidiOut, n);
    jack_midi_clear_buffer(midi);
    const size_t pos = self->mPlayed.load();
    for (int c = 0; c < 2; ++c)
    {
      float* out = static_cast<float*>(jack_port_get_buffer(self->mOut[c], n));
      for (jack_nframes_t i = 0; i < n; ++i)
      {
        const size_t k = pos + i;
        out[i] = self->mPlaying && k < self->mSignal.size() ? self->mSignal[k] : 0.f;
      }
    }
    if (!self->mPlaying) return 0;
    for (const Midi& m : self->mMidi)
      if (m.frame >= pos && m.frame < pos + n)
        jack_midi_event_write(midi, (jack_nframes_t)(m.frame - pos), m.bytes.data(), m.bytes.size());
    self->mPlayed.store(pos + n);
    self->mStartedCycles.fetch_add(1);
    return 0;
  }
  static int OnRecord(jack_nframes_t n, void* arg)
  {
    auto* self = static_cast<PlayRecord*>(arg);
    // From the period in which playing started (the player runs first: it
    // feeds tavlo-jack, which feeds this client).
    if (self->mStartedCycles.load() == 0) return 0;
    const size_t pos = self->mRecorded.load();
    for (int c = 0; c < 2; ++c)
    {
      const float* in = static_cast<const float*>(jack_port_get_buffer(self->mIn[c], n));
      for (jack_nframes_t i = 0; i < n && pos + i < self->mRec[c].size(); ++i) self->mRec[c][pos + i] = in[i];
    }
    self->mRecorded.store(pos + n);
    return 0;
  }

  const std::vector<float> mSignal;
  std::vector<Midi> mMidi;
  std::vector<float> mRec[2];
  jack_client_t* mPlayer = nullptr;
  jack_client_t* mRecorder = nullptr;
  jack_port_t* mOut[2] = {};
  jack_port_t* mIn[2] = {};
  jack_port_t* mMidiOut = nullptr;
  std::atomic<bool> mPlaying{false};
  std::atomic<size_t> mPlayed{0}, mRecorded{0};
  std::atomic<int> mStartedCycles{0};
};

// One second of material that compresses: bursts of a tone with noise.
std::vector<float> TestSignal()
{
  std::vector<float> s((size_t)kRate);
  uint32_t seed = 1;
  for (size_t i = 0; i < s.size(); ++i)
  {
    seed = seed * 1664525u + 1013904223u;
    const double noise = ((seed >> 8) / 16777216.0 - 0.5) * 0.3;
    const double env = (i / 6000) % 2 == 0 ? 0.9 : 0.1;
    s[i] = (float)(env * (std::sin(2.0 * M_PI * 220.0 * (double)i / kRate) * 0.7 + noise));
  }
  return s;
}

// What tavlo-render makes of signal (both channels) with these options.
std::vector<float> Render(const std::vector<float>& signal, const std::vector<std::string>& options)
{
  const std::string in = kTmp + "jack-in.wav", out = kTmp + "jack-out.wav";
  SF_INFO info = {};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(in.c_str(), SFM_WRITE, &info);
  std::vector<float> inter(signal.size() * 2);
  for (size_t i = 0; i < signal.size(); ++i) inter[2 * i] = inter[2 * i + 1] = signal[i];
  sf_writef_float(f, inter.data(), (sf_count_t)signal.size());
  sf_close(f);
  std::string cmd = std::string(TAVLO_RENDER_PATH) + " -q -y --bits 32f";
  for (const std::string& o : options) cmd += " " + o;
  cmd += " " + in + " " + out;
  if (system(cmd.c_str()) != 0) return {};
  SF_INFO got = {};
  f = sf_open(out.c_str(), SFM_READ, &got);
  std::vector<float> result((size_t)(got.frames * got.channels));
  sf_readf_float(f, result.data(), got.frames);
  sf_close(f);
  std::vector<float> left((size_t)got.frames);
  for (size_t i = 0; i < left.size(); ++i) left[i] = result[2 * i];
  return left;
}

// The first frame at which two runs differ, from the recording's start
// (shifted by whole periods, in case a server delays it by one); -1: equal.
long FirstDifference(const std::vector<float>& want, const std::vector<float>& got, int* shift)
{
  long best = 0;
  for (int k = 0; k <= 4; ++k)
  {
    const size_t off = (size_t)k * kPeriod;
    long diff = -1;
    for (size_t i = 0; i < want.size(); ++i)
      if (memcmp(&want[i], &got[i + off], sizeof(float)) != 0)
      {
        diff = (long)i;
        break;
      }
    if (diff < 0)
    {
      *shift = k;
      return -1;
    }
    best = std::max(best, diff);
  }
  return best;
}

class JackServerTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (!JackServer::Shared().Running())
    {
      if (Required()) FAIL() << JackServer::Shared().Error() << ", and TAVLO_REQUIRE_HOSTS=1 requires it";
      GTEST_SKIP() << JackServer::Shared().Error();
    }
  }
  // tavlo-jack headless under the given name, running.
  void StartTavlo(Child& child, const std::string& name, std::vector<std::string> extra = {},
                  const std::vector<std::string>& env = {})
  {
    std::vector<std::string> args = {TAVLO_JACK_PATH, "--name", name};
    args.insert(args.end(), extra.begin(), extra.end());
    child.Start(args, env);
    ASSERT_TRUE(child.WaitFor("running as " + name, 5000)) << child.text;
  }
};

TEST_F(JackServerTest, RecordingEqualsTheRendererBitForBitAcrossAPeriodChange)
{
  const std::vector<float> signal = TestSignal();
  const std::vector<float> want = Render(signal, {"--set Input=150", "--set Attack=1ms"});
  ASSERT_EQ(want.size(), signal.size());
  for (int newPeriod : {0, 1024})
  {
    // A new instance each time: the renderer's starts from rest.
    Child tavlo;
    StartTavlo(tavlo, "tj_render", {"--headless", "--set", "Input=150", "--set", "Attack=1ms"});
    PlayRecord pr(signal, {});
    ASSERT_TRUE(pr.Open("tj_render"));
    ASSERT_TRUE(pr.Play(newPeriod)) << "period " << newPeriod;
    int shift = 0;
    EXPECT_EQ(FirstDifference(want, pr.Recording(0), &shift), -1) << "period change to " << newPeriod;
    EXPECT_EQ(FirstDifference(want, pr.Recording(1), &shift), -1);
    EXPECT_EQ(shift, 0);
    EXPECT_EQ(tavlo.Stop(), 0);
    EXPECT_NE(tavlo.text.find("xruns"), std::string::npos) << tavlo.text;
  }
}

// What patchbays show: each port's pretty name, group and order.
TEST_F(JackServerTest, PortsCarryPrettyNamesGroupsAndOrder)
{
  if (!JackServer::Shared().Own()) GTEST_SKIP() << "metadata is checked under a jackd of the test's own";
  Child tavlo;
  StartTavlo(tavlo, "tj_meta", {"--headless"});
  jack_status_t status;
  jack_client_t* c = jack_client_open("meta", JackNoStartServer, &status);
  ASSERT_NE(c, nullptr);
  struct Want
  {
    const char* port;
    const char* pretty;
    const char* group;
    const char* order;
  } want[] = {{"in_L", "Input L", "Input", "1"},          {"in_R", "Input R", "Input", "2"},
              {"sc_L", "Side-chain L", "Side-chain", "3"}, {"sc_R", "Side-chain R", "Side-chain", "4"},
              {"out_L", "Output L", "Output", "5"},        {"out_R", "Output R", "Output", "6"},
              {"midi_in", "MIDI control", "MIDI", "7"}};
  for (const Want& w : want)
  {
    jack_port_t* port = jack_port_by_name(c, (std::string("tj_meta:") + w.port).c_str());
    ASSERT_NE(port, nullptr) << w.port;
    const jack_uuid_t uuid = jack_port_uuid(port);
    for (const auto& kv : {std::make_pair(JACK_METADATA_PRETTY_NAME, w.pretty),
                           std::make_pair(JACK_METADATA_PORT_GROUP, w.group), std::make_pair(JACK_METADATA_ORDER, w.order)})
    {
      char* value = nullptr;
      char* type = nullptr;
      ASSERT_EQ(jack_get_property(uuid, kv.first, &value, &type), 0) << w.port << " " << kv.first;
      EXPECT_STREQ(value, kv.second) << w.port;
      jack_free(value);
      jack_free(type);
    }
  }
  jack_client_close(c);
  EXPECT_EQ(tavlo.Stop(), 0);
}

TEST_F(JackServerTest, MidiControlChangeAndProgramChangeTakeEffect)
{
  // Mix to 0 by CC (default map: 20 + index) makes the output the input;
  // a program change to a preset with Mix makes it compress again.
  int preset = -1;
  for (int p = 0; p < kTavloNumPresets && preset < 0; ++p)
  {
    double v[kNumParams];
    TavloPresetValues(p, v);
    if (v[kMix] > 50.0 && v[kInput] > 50.0) preset = p;
  }
  ASSERT_GE(preset, 0);
  const std::vector<float> signal = TestSignal();
  const size_t ccAt = 12000, pcAt = 36000;
  Child tavlo;
  StartTavlo(tavlo, "tj_midi", {"--headless", "--set", "Input=200"});
  PlayRecord pr(signal, {{ccAt, {0xB0, (uint8_t)(20 + kMix), 0}}, {pcAt, {0xC0, (uint8_t)preset}}});
  ASSERT_TRUE(pr.Open("tj_midi"));
  ASSERT_TRUE(pr.Play());
  const std::vector<float>& out = pr.Recording(0);
  auto differs = [&](size_t from, size_t to) {
    size_t n = 0;
    for (size_t i = from; i < to; ++i) n += std::fabs(out[i] - signal[i]) > 1e-6f;
    return n;
  };
  EXPECT_GT(differs(0, ccAt), 1000u) << "compressed before the CC";
  EXPECT_EQ(differs(ccAt, pcAt), 0u) << "dry from the CC's frame on";
  EXPECT_GT(differs(pcAt, signal.size()), 1000u) << "compressed again after the program change";
  EXPECT_EQ(tavlo.Stop(), 0);
}

// Under PipeWire's JACK (pw-jack), against a PipeWire of the test's own:
// the server is named at start, and a new rate sets the compressor up
// afresh (jackd's dummy backend cannot change its rate while running).
TEST(JackPipeWireTest, NamesPipeWireAndFollowsARateChange)
{
  if (access("/usr/bin/pipewire", X_OK) != 0 || access("/usr/bin/pw-jack", X_OK) != 0)
  {
    if (Required()) FAIL() << "pipewire or pw-jack missing (Debian packages pipewire, pipewire-jack)";
    GTEST_SKIP() << "pipewire or pw-jack missing";
  }
  char runtime[] = "/tmp/tavlo-pw-XXXXXX";
  ASSERT_NE(mkdtemp(runtime), nullptr);
  const std::string env = std::string("XDG_RUNTIME_DIR=") + runtime;
  Child pipewire, tavlo;
  pipewire.Start({"/usr/bin/pipewire"}, {env});
  const std::string socket = std::string(runtime) + "/pipewire-0";
  for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; ++i) usleep(10000);
  ASSERT_EQ(access(socket.c_str(), F_OK), 0) << "PipeWire did not start";
  // PipeWire's libjack (0.3.65) keeps the memory of the ports a client
  // registered past jack_client_close; under LeakSanitizer that is its
  // leak, not the program's.
  const std::string suppressions = std::string(runtime) + "/lsan.supp";
  std::ofstream(suppressions) << "leak:pipewire-0.3/jack/libjack.so\n";
  tavlo.Start({"/usr/bin/pw-jack", TAVLO_JACK_PATH, "--headless", "--name", "tj_pw"},
              {env, "LSAN_OPTIONS=suppressions=" + suppressions});
  ASSERT_TRUE(tavlo.WaitFor("running as tj_pw", 5000)) << tavlo.text;
  EXPECT_NE(tavlo.text.find("found PipeWire"), std::string::npos) << tavlo.text;
  Child metadata;
  metadata.Start({"/usr/bin/pw-metadata", "-n", "settings", "0", "clock.force-rate", "96000"}, {env});
  EXPECT_TRUE(tavlo.WaitFor("runs at 96000 Hz", 5000)) << tavlo.text;
  EXPECT_EQ(tavlo.Stop(), 0);
  pipewire.Stop();
  const std::string clean = std::string("rm -rf ") + runtime;
  EXPECT_EQ(system(clean.c_str()), 0);
}

// ---- a session manager of the test's own ----

struct NsmServer
{
  lo_server server = nullptr;
  std::vector<std::string> received;  // "path arg arg"
  lo_address client = nullptr;

  NsmServer()
  {
    server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    lo_server_add_method(server, nullptr, nullptr, OnMessage, this);
  }
  ~NsmServer()
  {
    if (client) lo_address_free(client);
    lo_server_free(server);
  }
  std::string Url() const { return "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(server)) + "/"; }
  static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message msg, void* user)
  {
    auto* self = static_cast<NsmServer*>(user);
    std::string line = path;
    for (int i = 0; i < argc; ++i)
    {
      // OSC aligns arguments to 4 bytes, lo_arg to 8: read the bytes.
      int32_t n = 0;
      if (types[i] == 'i') memcpy(&n, argv[i], sizeof(n));
      line += " " + (types[i] == 's' ? std::string(reinterpret_cast<const char*>(argv[i]))
                     : types[i] == 'i' ? std::to_string(n)
                                       : "?");
    }
    self->received.push_back(line);
    if (!self->client)
    {
      lo_address from = lo_message_get_source(msg);
      self->client = lo_address_new(lo_address_get_hostname(from), lo_address_get_port(from));
    }
    return 0;
  }
  // Waits until a message starting with what arrives; its line, or "".
  std::string WaitFor(const std::string& what, int ms = 5000)
  {
    const double until = NowMs() + ms;
    for (;;)
    {
      for (const std::string& r : received)
        if (r.compare(0, what.size(), what) == 0) return r;
      if (NowMs() > until) return "";
      lo_server_recv_noblock(server, 20);
    }
  }
  void Send(const char* path, const std::vector<std::string>& args = {})
  {
    lo_message m = lo_message_new();
    for (const std::string& a : args) lo_message_add_string(m, a.c_str());
    lo_send_message_from(client, server, path, m);
    lo_message_free(m);
  }
};

std::vector<uint8_t> FileBytes(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(JackServerTest, NsmAnnounceOpenSaveShowHideAndASecondRunRestores)
{
  vst3host::XvfbSession& x = vst3host::XvfbSession::Shared();
  ASSERT_TRUE(x.Start()) << x.Error();
  const std::string session = kTmp + "tavlo-nsm-" + std::to_string(getpid());
  const std::string folder = session + "/Tavlo.nTAVLO";
  mkdir(session.c_str(), 0755);
  std::vector<uint8_t> first;
  for (int run = 0; run < 2; ++run)
  {
    NsmServer nsm;
    Child tavlo;
    tavlo.Start({TAVLO_JACK_PATH, "--headless"}, {"NSM_URL=" + nsm.Url()});
    const std::string announce = nsm.WaitFor("/nsm/server/announce");
    ASSERT_NE(announce, "") << tavlo.text;
    EXPECT_NE(announce.find(":optional-gui:"), std::string::npos) << announce;
    EXPECT_NE(announce.find(" tavlo-jack "), std::string::npos) << announce;
    nsm.Send("/reply", {"/nsm/server/announce", "hello", "test-nsm", ":server-control:"});
    nsm.Send("/nsm/client/open", {folder, "session", "tavlo_nsm"});
    ASSERT_NE(nsm.WaitFor("/reply /nsm/client/open"), "") << tavlo.text;
    // The JACK client takes the id the session gave.
    ASSERT_TRUE(tavlo.WaitFor("running as tavlo_nsm", 3000)) << tavlo.text;
    ASSERT_NE(nsm.WaitFor("/nsm/client/is_clean"), "");
    if (run == 0)
    {
      // An edit by MIDI makes the session dirty; a save makes it clean.
      PlayRecord pr(TestSignal(), {{0, {0xB0, (uint8_t)(20 + kRelease), 5}}});
      ASSERT_TRUE(pr.Open("tavlo_nsm"));
      ASSERT_TRUE(pr.Play());
      ASSERT_NE(nsm.WaitFor("/nsm/client/is_dirty"), "");
      nsm.received.clear();
      nsm.Send("/nsm/client/save");
      ASSERT_NE(nsm.WaitFor("/reply /nsm/client/save"), "");
      EXPECT_NE(nsm.WaitFor("/nsm/client/is_clean"), "");
      first = FileBytes(folder + "/state.tavlo");
      ASSERT_FALSE(first.empty());
      // The editor on the session manager's request, in Xvfb.
      nsm.Send("/nsm/client/show_optional_gui");
      EXPECT_NE(nsm.WaitFor("/nsm/client/gui_is_shown"), "");
      nsm.Send("/nsm/client/hide_optional_gui");
      EXPECT_NE(nsm.WaitFor("/nsm/client/gui_is_hidden"), "");
    }
    else
    {
      // Restored: saving again writes the same bytes, the edit included.
      nsm.received.clear();
      nsm.Send("/nsm/client/save");
      ASSERT_NE(nsm.WaitFor("/reply /nsm/client/save"), "");
      EXPECT_EQ(FileBytes(folder + "/state.tavlo"), first);
      EXPECT_EQ(nsm.WaitFor("/nsm/client/is_dirty", 300), "");
    }
    EXPECT_EQ(tavlo.Stop(), 0);
  }
  // The first run's state is not the defaults': the restore was seen.
  Child fresh;
  std::vector<uint8_t> defaults;
  {
    NsmServer nsm;
    const std::string other = session + "/fresh";
    fresh.Start({TAVLO_JACK_PATH, "--headless"}, {"NSM_URL=" + nsm.Url()});
    ASSERT_NE(nsm.WaitFor("/nsm/server/announce"), "");
    nsm.Send("/nsm/client/open", {other, "session", "tavlo_fresh"});
    ASSERT_NE(nsm.WaitFor("/reply /nsm/client/open"), "");
    nsm.Send("/nsm/client/save");
    ASSERT_NE(nsm.WaitFor("/reply /nsm/client/save"), "");
    defaults = FileBytes(other + "/state.tavlo");
    EXPECT_EQ(fresh.Stop(), 0);
  }
  EXPECT_NE(defaults, first);
}

// Top-level windows whose name starts with prefix.
int WindowsNamed(Display* dpy, const std::string& prefix)
{
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  int found = 0;
  if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n)) return 0;
  for (unsigned i = 0; i < n; ++i)
  {
    char* name = nullptr;
    if (XFetchName(dpy, children[i], &name) && name)
    {
      found += std::string(name).compare(0, prefix.size(), prefix) == 0;
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

TEST_F(JackServerTest, EditorOpensInAWindowOfItsOwnAndClosesCleanly)
{
  vst3host::XvfbSession& x = vst3host::XvfbSession::Shared();
  ASSERT_TRUE(x.Start()) << x.Error();
  Display* dpy = XOpenDisplay(x.Display().c_str());
  ASSERT_NE(dpy, nullptr);
  Child tavlo;
  StartTavlo(tavlo, "tj_editor", {}, {"DISPLAY=" + x.Display()});
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i, usleep(20000)) shown = WindowsNamed(dpy, "Tavlo - tj_editor") == 1;
  EXPECT_TRUE(shown);
  EXPECT_EQ(tavlo.Stop(), 0);
  XSync(dpy, False);
  EXPECT_EQ(WindowsNamed(dpy, "Tavlo - tj_editor"), 0);
  XCloseDisplay(dpy);
}

}  // namespace
