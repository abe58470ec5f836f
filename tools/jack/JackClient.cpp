#include "JackClient.h"

#include <dlfcn.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/uuid.h>

#include <cstring>

#include "TavloJackEngine.h"

namespace {

const char* const kInNames[4] = {"in_L", "in_R", "sc_L", "sc_R"};
const char* const kOutNames[2] = {"out_L", "out_R"};

// JACK reports its errors on standard error itself; one line of ours says
// what failed.
void QuietError(const char*) {}

struct JackMidiSource
{
  void* buffer;
  bool operator()(uint32_t i, TavloJackEngine::MidiEvent& e) const
  {
    jack_midi_event_t ev;
    if (jack_midi_event_get(&ev, buffer, i) != 0) return false;
    e = {ev.time, ev.buffer, ev.size};
    return true;
  }
};

}  // namespace

std::string JackClient::ServerDescription()
{
  // PipeWire's libjack stands in for jackd2's under the same name; where
  // the library lies tells them apart.
  Dl_info info;
  const bool pipewire = dladdr(reinterpret_cast<void*>(&jack_client_open), &info) && info.dli_fname &&
                        strstr(info.dli_fname, "pipewire");
  const char* version = jack_get_version_string();
  return std::string(pipewire ? "PipeWire" : "jackd2") + " (libjack " + (version ? version : "?") + ")";
}

bool JackClient::Open(const std::string& name, std::string& error)
{
  jack_set_error_function(QuietError);
  jack_status_t status;
  mClient = jack_client_open(name.c_str(), JackNoStartServer, &status);
  if (!mClient)
  {
    error = (status & JackServerFailed) ? "no JACK server is running (start jackd, or run under PipeWire with pw-jack)"
                                        : "the JACK server refused the client '" + name + "'";
    return false;
  }
  for (int c = 0; c < 4; ++c)
    mIn[c] = jack_port_register(mClient, kInNames[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  for (int c = 0; c < 2; ++c)
    mOut[c] = jack_port_register(mClient, kOutNames[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  mMidi = jack_port_register(mClient, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  for (jack_port_t* p : {mIn[0], mIn[1], mIn[2], mIn[3], mOut[0], mOut[1], mMidi})
    if (!p)
    {
      error = "the JACK server refused a port";
      Close();
      return false;
    }
  static const char* const kPretty[7] = {"Input L",  "Input R",  "Side-chain L", "Side-chain R",
                                         "Output L", "Output R", "MIDI control"};
  static const char* const kGroup[7] = {"Input", "Input", "Side-chain", "Side-chain", "Output", "Output", "MIDI"};
  jack_port_t* all[7] = {mIn[0], mIn[1], mIn[2], mIn[3], mOut[0], mOut[1], mMidi};
  for (int i = 0; i < 7; ++i) Describe(all[i], kPretty[i], kGroup[i], i + 1);
  if (char* uuidText = jack_get_uuid_for_client_name(mClient, jack_get_client_name(mClient)))
  {
    jack_uuid_t uuid;
    if (jack_uuid_parse(uuidText, &uuid) == 0) jack_set_property(mClient, uuid, JACK_METADATA_PRETTY_NAME, "Tavlo", "text/plain");
    jack_free(uuidText);
  }

  jack_set_process_callback(mClient, OnProcess, this);
  jack_set_buffer_size_callback(mClient, OnBufferSize, this);
  jack_set_sample_rate_callback(mClient, OnSampleRate, this);
  jack_set_xrun_callback(mClient, OnXrun, this);
  jack_on_info_shutdown(mClient, OnShutdown, this);

  mRate = jack_get_sample_rate(mClient);
  mPeriod = jack_get_buffer_size(mClient);
  mSetUpRate = mRate;
  mEngine.SetUp((double)mRate, (int)mPeriod);
  return true;
}

void JackClient::Describe(jack_port_t* port, const char* pretty, const char* group, int order)
{
  const jack_uuid_t uuid = jack_port_uuid(port);
  jack_set_property(mClient, uuid, JACK_METADATA_PRETTY_NAME, pretty, "text/plain");
  jack_set_property(mClient, uuid, JACK_METADATA_PORT_GROUP, group, "text/plain");
  const std::string text = std::to_string(order);
  jack_set_property(mClient, uuid, JACK_METADATA_ORDER, text.c_str(), "http://www.w3.org/2001/XMLSchema#integer");
}

bool JackClient::Activate(std::string& error)
{
  if (jack_activate(mClient) != 0)
  {
    error = "the JACK server did not activate the client";
    return false;
  }
  mActive = true;
  return true;
}

void JackClient::Close()
{
  if (!mClient) return;
  if (mActive) jack_deactivate(mClient);
  mActive = false;
  // The ports' descriptions go with the ports; the client's own is ours.
  if (char* uuidText = jack_get_uuid_for_client_name(mClient, jack_get_client_name(mClient)))
  {
    jack_uuid_t uuid;
    if (jack_uuid_parse(uuidText, &uuid) == 0) jack_remove_properties(mClient, uuid);
    jack_free(uuidText);
  }
  for (jack_port_t* p : {mIn[0], mIn[1], mIn[2], mIn[3], mOut[0], mOut[1], mMidi})
    if (p)
    {
      jack_remove_properties(mClient, jack_port_uuid(p));
      jack_port_unregister(mClient, p);
    }
  jack_client_close(mClient);
  mClient = nullptr;
}

std::string JackClient::Name() const { return mClient ? jack_get_client_name(mClient) : ""; }

std::string JackClient::FullName(const std::string& port) const
{
  return port.find(':') == std::string::npos ? Name() + ":" + port : port;
}

bool JackClient::Connect(const std::string& pair, std::string& error)
{
  const size_t eq = pair.find('=');
  const std::string src = FullName(pair.substr(0, eq)), dst = FullName(pair.substr(eq + 1));
  const int rc = jack_connect(mClient, src.c_str(), dst.c_str());
  if (rc != 0 && rc != EEXIST)
  {
    error = "cannot connect " + src + " to " + dst + (jack_port_by_name(mClient, src.c_str()) ? "" : ": no port " + src) +
            (jack_port_by_name(mClient, dst.c_str()) ? "" : ": no port " + dst);
    return false;
  }
  return true;
}

std::vector<std::string> JackClient::ListPorts() const
{
  std::vector<std::string> lines;
  const char** names = jack_get_ports(mClient, nullptr, nullptr, 0);
  for (size_t i = 0; names && names[i]; ++i)
  {
    jack_port_t* p = jack_port_by_name(mClient, names[i]);
    const int flags = p ? jack_port_flags(p) : 0;
    const char* type = p ? jack_port_type(p) : "";
    lines.push_back(std::string(names[i]) + "\t" + ((flags & JackPortIsOutput) ? "output" : "input") + "\t" +
                    (strstr(type, "midi") ? "midi" : "audio"));
  }
  jack_free(names);
  return lines;
}

void JackClient::Idle()
{
  const uint32_t rate = mRate.load(std::memory_order_acquire);
  const int period = (int)mPeriod.load(std::memory_order_acquire);
  if (rate != mSetUpRate && rate > 0)
  {
    mSetUpRate = rate;
    mEngine.SetUp((double)rate, period);
  }
  else
    mEngine.FitPeriod(period);
}

// ---- the server's threads ----

int JackClient::OnProcess(jack_nframes_t nFrames, void* arg)
{
  auto* self = static_cast<JackClient*>(arg);
  float* in[4];
  float* out[2];
  for (int c = 0; c < 4; ++c) in[c] = static_cast<float*>(jack_port_get_buffer(self->mIn[c], nFrames));
  for (int c = 0; c < 2; ++c) out[c] = static_cast<float*>(jack_port_get_buffer(self->mOut[c], nFrames));
  JackMidiSource midi{jack_port_get_buffer(self->mMidi, nFrames)};
  self->mEngine.Process(in, out, (int)nFrames, midi, jack_midi_get_event_count(midi.buffer));
  return 0;
}

// Only noted: the runner takes longer periods in pieces meanwhile, and the
// main thread grows the scratch buffers (no allocation here, on whatever
// thread a server calls this).
int JackClient::OnBufferSize(jack_nframes_t nFrames, void* arg)
{
  static_cast<JackClient*>(arg)->mPeriod.store(nFrames, std::memory_order_release);
  return 0;
}

int JackClient::OnSampleRate(jack_nframes_t rate, void* arg)
{
  static_cast<JackClient*>(arg)->mRate.store(rate, std::memory_order_release);
  return 0;
}

int JackClient::OnXrun(void* arg)
{
  static_cast<JackClient*>(arg)->mXruns.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

void JackClient::OnShutdown(jack_status_t, const char*, void* arg)
{
  static_cast<JackClient*>(arg)->mShutdown.store(true, std::memory_order_release);
}
