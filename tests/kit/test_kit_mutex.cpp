#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kit/KitMutex.h"

TEST(KitMutex, TheHoldingThreadMayEnterAgain)
{
  KitMutex m;
  m.Enter();
  EXPECT_TRUE(m.TryEnter()); // recursive: no deadlock, no failure
  {
    KitMutexLock lock(m);
    KitMutexLock again(&m);
  }
  m.Leave();

  // Still held once: another thread cannot take it.
  std::atomic<bool> got{true};
  std::thread t([&] {
    got = m.TryEnter();
    if (got) m.Leave();
  });
  t.join();
  EXPECT_FALSE(got);

  m.Leave();
  std::thread t2([&] {
    got = m.TryEnter();
    if (got) m.Leave();
  });
  t2.join();
  EXPECT_TRUE(got);
}

TEST(KitMutex, SerialisesTwoThreads)
{
  KitMutex m;
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i)
    {
      KitMutexLock lock(m);
      long v = counter;
      counter = v + 1;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(200000, counter);

  KitMutexLock none(nullptr); // a null mutex is allowed
}
