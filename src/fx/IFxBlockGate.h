#pragma once

#include <atomic>
#include <thread>

// Keeps what changes an instance's structure (set-up, activation) apart
// from the audio thread without ever making the audio thread wait. A block
// that finds the gate closed is not processed (its outputs get silence);
// closing waits for the block in progress to end, which takes no longer
// than one block. Hosts set up and activate only between blocks, so the
// gate is never closed in front of audio they want heard.
class IFxBlockGate
{
public:
  // Audio thread: true when the block may go on; Leave() when it is done.
  bool TryEnter()
  {
    int open = kOpen;
    return mState.compare_exchange_strong(open, kInBlock, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void Leave() { mState.store(kOpen, std::memory_order_release); }

  // Any other thread: waits for the block in progress, then keeps blocks
  // out until Open(). Not re-entrant.
  void Close()
  {
    for (;;)
    {
      int open = kOpen;
      if (mState.compare_exchange_weak(open, kClosed, std::memory_order_acquire, std::memory_order_relaxed)) return;
      std::this_thread::yield();
    }
  }
  void Open() { mState.store(kOpen, std::memory_order_release); }

  // Audio thread: inside for as long as it lives, when it got in.
  class Entered
  {
  public:
    explicit Entered(IFxBlockGate& gate) : mGate(gate), mIn(gate.TryEnter()) {}
    ~Entered()
    {
      if (mIn) mGate.Leave();
    }
    explicit operator bool() const { return mIn; }
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;

  private:
    IFxBlockGate& mGate;
    bool mIn;
  };

  // Closed for as long as it lives.
  class Closed
  {
  public:
    explicit Closed(IFxBlockGate& gate) : mGate(gate) { mGate.Close(); }
    ~Closed() { mGate.Open(); }
    Closed(const Closed&) = delete;
    Closed& operator=(const Closed&) = delete;

  private:
    IFxBlockGate& mGate;
  };

private:
  static constexpr int kOpen = 0, kInBlock = 1, kClosed = 2;
  std::atomic<int> mState{kOpen};
};
