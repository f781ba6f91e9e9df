#include "base/platform/linux/MountTable.h"

#include "base/platform/linux/Syscalls.h"
#include "base/platform/linux/SysfsFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <sstream>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

// mountinfo writes space, tab, newline and backslash in paths as \ and three octal digits.
std::string Unescape(const std::string& field) {
    auto octal = [&](std::size_t i) { return field[i] >= '0' && field[i] <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool HasOption(const std::string& options, const std::string& option) {
    std::istringstream in(options);
    for (std::string item; std::getline(in, item, ',');) {
        if (item == option) return true;
    }
    return false;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    std::vector<MountEntry> entries;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        // id parent major:minor root point options [optional...] - type source super-options
        std::istringstream in(line);
        std::vector<std::string> fields{std::istream_iterator<std::string>(in),
                                        std::istream_iterator<std::string>()};
        auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 6 || dash == fields.end() || fields.end() - dash < 3 ||
            dash - fields.begin() < 6)
            continue;
        MountEntry entry;
        entry.root = Unescape(fields[3]);
        entry.mountPoint = Unescape(fields[4]);
        entry.readOnly = HasOption(fields[5], "ro");
        entry.type = Unescape(dash[1]);
        entry.source = Unescape(dash[2]);
        entries.push_back(entry);
    }
    return entries;
}

bool IsVolumeCandidate(const MountEntry& entry) {
    static const char* const kPseudo[] = {
        "proc",      "sysfs",   "tmpfs",       "devtmpfs",   "devpts",  "overlay",
        "squashfs",  "cgroup",  "cgroup2",     "ramfs",      "autofs",  "mqueue",
        "hugetlbfs", "debugfs", "tracefs",     "securityfs", "pstore",  "bpf",
        "configfs",  "fusectl", "binfmt_misc", "nsfs",       "efivarfs"};
    if (entry.root != "/" || entry.source.compare(0, 5, "/dev/") != 0) return false;
    return std::none_of(std::begin(kPseudo), std::end(kPseudo),
                        [&](const char* type) { return entry.type == type; });
}

std::vector<MountEntry> ReadMountTable() {
    std::string text;
    ReadFile("/proc/self/mountinfo", text, 4u << 20);
    return ParseMountInfo(text);
}

std::vector<BlockVolume> BlockVolumes(const std::vector<MountEntry>& table) {
    std::vector<BlockVolume> volumes;
    for (const MountEntry& entry : table) {
        struct stat info {};
        if (!IsVolumeCandidate(entry) || Syscalls().stat(entry.source.c_str(), &info) != 0 ||
            !S_ISBLK(info.st_mode))
            continue;
        volumes.erase(std::remove_if(volumes.begin(), volumes.end(),
                                     [&](const BlockVolume& v) {
                                         return v.mount.mountPoint == entry.mountPoint;
                                     }),
                      volumes.end());
        volumes.push_back({entry, info.st_rdev});
    }
    return volumes;
}

std::string RootOfMountPoint(const std::string& mountPoint) {
    return mountPoint == "/" ? mountPoint : mountPoint + "/";
}

std::string MountPointOfRoot(const std::string& root) {
    if (root.empty() || root.back() != '/') return std::string();
    return root == "/" ? root : root.substr(0, root.size() - 1);
}

bool FindBlockVolume(const std::vector<MountEntry>& table, const std::string& root,
                     BlockVolume& volume) {
    const std::string point = MountPointOfRoot(root);
    if (point.empty()) return false;
    for (const BlockVolume& candidate : BlockVolumes(table)) {
        if (candidate.mount.mountPoint == point) {
            volume = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
