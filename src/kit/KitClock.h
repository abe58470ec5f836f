#pragma once

#include <time.h>

// Milliseconds on the monotonic clock: for intervals (timers, idle
// polling), never for the time of day.
inline double KitNowMs()
{
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}
