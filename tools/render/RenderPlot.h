#pragma once

// The render at a glance: input and output waveforms as min/max envelopes
// and the gain reduction in dB over time, on a shared time axis.

#include <string>
#include <vector>

#include "RenderStats.h"

struct PlotText
{
  std::string title;                // first line, e.g. the files
  std::string settings;             // second line, e.g. the parameters
};

// Writes a PNG to path; false with a message when cairo cannot.
bool DrawRenderPlot(const RenderStats& stats, const PlotText& text, const std::string& path,
                    std::string& error);
