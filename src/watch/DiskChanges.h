#pragma once

#include <Ovra/DiskHealthWatch.h>

#include <cstddef>
#include <string>
#include <vector>

namespace Ovra {
namespace watch {

using Events = std::vector<DiskHealthEvent>;

// °C; 0 turns a limit off.
struct TemperatureLimits {
    int warning = kDefaultTemperatureLimit;
    int critical = 0;
};

// The rising values the watch compares: ATA attributes 5, 187, 188, 197, 198, NVMe media errors
// and the device's error count.
const std::size_t kRisingCount = 7;

// What the watch remembers of one disk between polls. A value is replaced only by a reading that
// has it, so a reading that lacks it (a failed read) neither reports a change nor forgets it.
struct DiskMemory {
    enum Presence { Unseen, Absent, Present };
    Presence presence = Unseen;
    DiskHealth::Verdict verdict = DiskHealth::Unknown;
    long long rising[kRisingCount] = {kHealthAbsent, kHealthAbsent, kHealthAbsent, kHealthAbsent,
                                      kHealthAbsent, kHealthAbsent, kHealthAbsent};
    bool hasTemperature = false;
    int temperature = 0;
    int heat = 0;  // 0 normal, 1 above the warning limit, 2 above the critical one
    int testRunning = -1;
    bool startTold = false;  // the watch started a test and told it: its run is not told again
    bool hasNewestTest = false;
    DiskSelfTest newestTest;
    std::size_t testCount = 0;
};

// Compares one disk's reading (`result`: what ReadDiskHealth gave) with `memory`, appends an event
// stamped like `stamp` for each change, and updates `memory`. A disk seen for the first time
// (Unseen, or Absent before: then it was added) tells only that it is Failing or too hot.
void CompareReading(const DiskHealthEvent& stamp, int result, const DiskHealth& reading,
                    const TemperatureLimits& limits, DiskMemory& memory, Events& events);

// Tells the start of a self-test of `kind` that the watch asked for: selftest-started when `code`
// is 0, else selftest-failed with the detail "not started: ...".
void TellStart(const DiskHealthEvent& stamp, int kind, int code, const std::wstring& reason,
               DiskMemory& memory, Events& events);

}  // namespace watch
}  // namespace Ovra
