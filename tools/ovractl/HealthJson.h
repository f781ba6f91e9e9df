#pragma once

// The JSON of disk-health readings and watch events, for every command and server that prints
// them: one shape wherever a reading or an event leaves the tool.

#include <Ovra/DiskHealth.h>
#include <Ovra/DiskHealthWatch.h>

#include <nlohmann/json.hpp>

namespace ovractl {

// The object `ovractl health --json` prints for one disk. Counters the disk did not report are
// null.
nlohmann::json DiskHealthJson(long long disk, const Ovra::DiskHealth& health);
// {"time": ms, "disk": n, "event": name, "from": ..., "to": ..., "detail": ...}; texts the event
// does not carry are null.
nlohmann::json WatchEventJson(const Ovra::DiskHealthEvent& event);

// null for kHealthAbsent, else the number.
nlohmann::json OptionalJson(long long value);
// "ATA", "NVMe", "unknown"; "passed", "FAILED", "not assessed".
const char* DiskKindText(Ovra::DiskHealth::Kind kind);
const char* AssessmentText(Ovra::DiskHealth::Assessment assessment);

}  // namespace ovractl
