#pragma once

#include <Ovra/DiskHealth.h>

#include <string>

namespace Ovra {
namespace watch {

// How the watch reaches the disks: ReadDiskHealth and StartDiskSelfTest in the product, simulated
// disks in the tests. Called on the watch's worker only.
class DiskProbe {
public:
    virtual ~DiskProbe() = default;
    // As ReadDiskHealth; 121 when there is no such disk.
    virtual int Read(long long disk, DiskHealth& health) = 0;
    // As StartDiskSelfTest.
    virtual int StartSelfTest(long long disk, int kind, std::wstring& reason) = 0;
};

}  // namespace watch
}  // namespace Ovra
