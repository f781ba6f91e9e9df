#pragma once

// A loop device over a sparse image in a scratch folder, made into a file system and mounted
// there; unmounted, detached and removed at the end, also when the test fails.

#include "tests/support/ScratchDir.h"

#include <string>
#include <vector>

namespace Ovra {
namespace linux_test {

class LoopVolume {
public:
    // `mkfs` is the command without the device, such as {"mkfs.ext4", "-q", "-L", "first"}.
    explicit LoopVolume(const std::vector<std::string>& mkfs);
    ~LoopVolume();
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;

    // Why the volume could not be made (not root, no loop devices, a tool missing); empty when
    // it is mounted.
    const std::string& SkipReason() const { return m_skip; }
    const std::string& Device() const { return m_device; }
    std::string MountPoint() const { return m_scratch.Utf8Path("mnt"); }
    // A path beside the mount point, in the test's own scratch folder.
    std::string Beside(const std::string& name) const { return m_scratch.Utf8Path(name); }
    std::wstring Root() const { return m_scratch.WidePath("mnt") + L"/"; }

private:
    testing_support::ScratchDir m_scratch{"ovra-loop"};
    std::string m_device;
    std::string m_skip;
};

}  // namespace linux_test
}  // namespace Ovra
