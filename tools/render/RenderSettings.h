#pragma once

// The settings of a render read against the loaded plug-in's parameters:
// a preset to start from, --set values and --automate points in their units,
// and the side-chain switch that --sidechain implies.

#include <string>

#include "PluginSession.h"
#include "RenderPlan.h"

// Fills shared's first-block changes and automation lanes; false with the
// message of a wrong command line. Warns of settings that render but are
// likely slips.
bool ResolveSettings(const RenderOptions& opts, const PluginSession& probe, RenderShared& shared, std::string& error);
