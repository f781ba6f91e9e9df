#pragma once

// The Prometheus text exposition (format 0.0.4) of a snapshot.

#include "Snapshot.h"

#include <string>

namespace ovractl {

extern const char kExpositionContentType[];

std::string BuildExposition(const Snapshot& snapshot, const std::string& version);

// A label value as the exposition format quotes it: backslash, double quote and line feed
// escaped.
std::string EscapeLabelValue(const std::string& value);

}  // namespace ovractl
