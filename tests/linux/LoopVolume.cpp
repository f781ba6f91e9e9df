#include "tests/linux/LoopVolume.h"

#include "base/platform/linux/MountTable.h"
#include "base/platform/linux/Spawn.h"

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace Ovra {
namespace linux_test {

using platform::posix::FindProgram;
using platform::posix::RunProgram;

LoopVolume::LoopVolume(const std::vector<std::string>& mkfs) {
    if (::geteuid() != 0) {
        m_skip = "attaching loop devices needs root";
        return;
    }
    if (::access("/dev/loop-control", F_OK) != 0 || FindProgram("losetup").empty()) {
        m_skip = "no loop devices here";
        return;
    }
    if (FindProgram(mkfs[0]).empty()) {
        m_skip = mkfs[0] + " is not installed";
        return;
    }
    const std::string image = m_scratch.Utf8Path("volume.img");
    std::ofstream{image};  // sparse: only what mkfs writes takes space
    std::filesystem::resize_file(image, 64 << 20);
    std::string output;
    if (RunProgram({"losetup", "-f", "--show", image},
                   [&](const std::string& chunk) {
                       output += chunk;
                       return true;
                   }) != 0 ||
        output.compare(0, 9, "/dev/loop") != 0) {
        m_skip = "no free loop device: " + output;
        return;
    }
    m_device = output.substr(0, output.find('\n'));
    std::vector<std::string> command = mkfs;
    command.push_back(m_device);
    std::filesystem::create_directory(MountPoint());
    if (RunProgram(command) != 0 || RunProgram({"mount", m_device, MountPoint()}) != 0)
        m_skip = "cannot make or mount " + mkfs[0] + " on " + m_device;
}

LoopVolume::~LoopVolume() {
    // Whatever the test mounted in its folder, by the kernel or a FUSE driver, deepest first; also
    // after a failed assertion left a second mount behind.
    const std::string folder = m_scratch.Folder().string() + "/";
    std::vector<std::string> points;
    for (const auto& entry : platform::posix::ReadMountTable()) {
        if (entry.mountPoint.compare(0, folder.size(), folder) == 0)
            points.push_back(entry.mountPoint);
    }
    std::sort(points.rbegin(), points.rend());
    for (const std::string& point : points) ::umount2(point.c_str(), MNT_DETACH);
    if (!m_device.empty()) RunProgram({"losetup", "-d", m_device});
}

}  // namespace linux_test
}  // namespace Ovra
