#pragma once

// The status page: one HTML document with inline styles and SVG plots drawn here, so that it needs
// nothing from any other host. It reloads itself every 30 s.

#include "EventRing.h"
#include "Snapshot.h"

#include <string>
#include <vector>

namespace ovractl {

// The raw values plotted besides the temperature: the counters that predict failure.
extern const int kPlottedCounters[5];

std::string RenderStatusPage(const Snapshot& snapshot, const std::vector<NumberedEvent>& events,
                             const std::string& version);

// Text made safe for HTML element content and quoted attribute values.
std::string EscapeHtml(const std::string& text);

}  // namespace ovractl
