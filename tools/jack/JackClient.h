#pragma once

// The JACK side of tavlo-jack: the client, its ports and their metadata,
// the process callback into the engine, and what the server announces
// (period size, rate, xruns, shutdown), kept in atomics for the main
// thread to act on. Works with jackd2's libjack and PipeWire's alike.

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class TavloJackEngine;

class JackClient
{
public:
  explicit JackClient(TavloJackEngine& engine) : mEngine(engine) {}
  ~JackClient() { Close(); }
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // Connects to the running server (none is started) and registers the
  // ports; the engine is set up for the server's rate and period. False
  // with the reason.
  bool Open(const std::string& name, std::string& error);
  bool Activate(std::string& error);
  void Close();

  // "jackd2 1.9.21" or "PipeWire (JACK API 1.9.17 ...)": which library
  // and server this process talks to.
  static std::string ServerDescription();
  // The name the server gave (it may add a suffix when name was taken).
  std::string Name() const;
  // "SRC=DST", either side a full port name or one of ours ("in_L");
  // false with the reason.
  bool Connect(const std::string& pair, std::string& error);
  // Every port of the server, one line each: name, direction, type.
  std::vector<std::string> ListPorts() const;

  // Main thread, often: the set-up the server's last announcements ask for.
  void Idle();
  uint64_t Xruns() const { return mXruns.load(std::memory_order_relaxed); }
  bool ServerGone() const { return mShutdown.load(std::memory_order_acquire); }
  uint32_t Rate() const { return mRate.load(std::memory_order_relaxed); }
  uint32_t Period() const { return mPeriod.load(std::memory_order_relaxed); }

private:
  static int OnProcess(jack_nframes_t nFrames, void* arg);
  static int OnBufferSize(jack_nframes_t nFrames, void* arg);
  static int OnSampleRate(jack_nframes_t rate, void* arg);
  static int OnXrun(void* arg);
  static void OnShutdown(jack_status_t, const char*, void* arg);
  void Describe(jack_port_t* port, const char* pretty, const char* group, int order);
  std::string FullName(const std::string& port) const;

  TavloJackEngine& mEngine;
  jack_client_t* mClient = nullptr;
  jack_port_t* mIn[4] = {};
  jack_port_t* mOut[2] = {};
  jack_port_t* mMidi = nullptr;
  bool mActive = false;
  std::atomic<uint32_t> mRate{0}, mPeriod{0};
  uint32_t mSetUpRate = 0;  // main thread: the rate the engine was set up for
  std::atomic<uint64_t> mXruns{0};
  std::atomic<bool> mShutdown{false};
};
