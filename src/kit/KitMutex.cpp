#include "kit/KitMutex.h"

KitMutex::KitMutex()
{
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&mMutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

KitMutex::~KitMutex() { pthread_mutex_destroy(&mMutex); }

void KitMutex::Enter() { pthread_mutex_lock(&mMutex); }
void KitMutex::Leave() { pthread_mutex_unlock(&mMutex); }
bool KitMutex::TryEnter() { return pthread_mutex_trylock(&mMutex) == 0; }
