#pragma once

// One file rendered with everything that goes with it (plot, snapshot,
// state, the summary and its warnings); the outputs appear together at the
// end or not at all.

#include <memory>
#include <string>

#include "PluginSession.h"
#include "RenderPlan.h"

// Renders job on plug (a new instance of the shared module when null).
bool RenderFile(const RenderShared& shared, FileJob& job, std::unique_ptr<PluginSession> plug, std::string& error);

// Without a render: the state of the settings alone (--load-state or a
// preset, then the first block's changes) written to --save-state and
// --save-preset.
bool SaveSettings(const RenderShared& shared, std::unique_ptr<PluginSession> plug, std::string& error);
