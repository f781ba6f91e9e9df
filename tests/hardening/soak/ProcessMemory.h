#pragma once

// Resident memory of this process, from /proc/self/status (Linux).

#include <cstdlib>
#include <fstream>
#include <string>

namespace Ovra {
namespace hardening {

struct ProcessMemory {
    long rssKb = -1;   // VmRSS: resident now
    long peakKb = -1;  // VmHWM: the highest resident size so far
};

inline ProcessMemory ReadProcessMemory() {
    ProcessMemory memory;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        // "VmRSS:\t  12345 kB"
        if (line.compare(0, 6, "VmRSS:") == 0) memory.rssKb = std::atol(line.c_str() + 6);
        if (line.compare(0, 6, "VmHWM:") == 0) memory.peakKb = std::atol(line.c_str() + 6);
    }
    return memory;
}

}  // namespace hardening
}  // namespace Ovra
