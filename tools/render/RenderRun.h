#pragma once

// A whole run of tavlo-render once the command line is read: one file, a
// batch on as many threads as asked, or the curve. Each returns the exit
// status, after its messages.

#include "RenderOptions.h"

int RunRender(const RenderOptions& opts);
int RunCurve(const RenderOptions& opts);
