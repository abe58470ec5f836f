#pragma once

// A whole run of tavlo-render once the command line is read: one file, a
// batch on as many threads as asked, or the curve. Each returns the exit
// status, after its messages.

#include "RenderOptions.h"

int RunRender(const RenderOptions& opts);
int RunCurve(const RenderOptions& opts);

// From here on, SIGINT, SIGTERM and SIGHUP remove the temporary files and
// then end the program as the signal would. Call first in main, before any
// thread starts: every thread keeps them blocked and one waits for them.
void WatchStopSignals();
