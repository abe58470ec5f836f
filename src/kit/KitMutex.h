#pragma once

#include <pthread.h>

// A recursive mutex: the thread holding it may take it again (the framework
// re-enters its instance lock from parameter callbacks during processing).
class KitMutex
{
public:
  KitMutex();
  ~KitMutex();
  KitMutex(const KitMutex&) = delete;
  KitMutex& operator=(const KitMutex&) = delete;

  void Enter();
  void Leave();
  // True when the lock was taken without waiting.
  bool TryEnter();

private:
  pthread_mutex_t mMutex;
};

// Holds a KitMutex for the lifetime of the object; a null mutex is allowed.
class KitMutexLock
{
public:
  explicit KitMutexLock(KitMutex* m) : mMutex(m) { if (mMutex) mMutex->Enter(); }
  explicit KitMutexLock(KitMutex& m) : KitMutexLock(&m) {}
  ~KitMutexLock() { if (mMutex) mMutex->Leave(); }
  KitMutexLock(const KitMutexLock&) = delete;
  KitMutexLock& operator=(const KitMutexLock&) = delete;

private:
  KitMutex* mMutex;
};
