#include "fmifs/src/FileSystemTools.h"

#include "base/platform/linux/Spawn.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace Ovra {
namespace fmifs {

namespace {

const FileSystemTool kTools[] = {
    {"FAT", "mkfs.vfat", "vfat"},     {"FAT32", "mkfs.vfat", "vfat"},
    {"exFAT", "mkfs.exfat", "exfat"}, {"NTFS", "mkfs.ntfs", "ntfs3"},
    {"Ext3", "mkfs.ext3", "ext3"},    {"ext4", "mkfs.ext4", "ext4"},
    {"xfs", "mkfs.xfs", "xfs"},       {"btrfs", "mkfs.btrfs", "btrfs"},
};

bool Is(const FileSystemTool& tool, const char* name) {
    return std::strcmp(tool.name, name) == 0;
}

}  // namespace

const FileSystemTool* FindTool(const std::string& name) {
    for (const FileSystemTool& tool : kTools) {
        if (name == tool.name) return &tool;
    }
    return nullptr;
}

std::vector<const FileSystemTool*> InstalledTools() {
    std::vector<const FileSystemTool*> tools;
    for (const FileSystemTool& tool : kTools) {
        if (!platform::posix::FindProgram(tool.mkfs).empty()) tools.push_back(&tool);
    }
    return tools;
}

std::vector<std::string> MkfsCommand(const FileSystemTool& tool, const MkfsOptions& o) {
    std::vector<std::string> argv{tool.mkfs};
    const std::string cluster = std::to_string(o.clusterSize);
    const bool label = !o.label.empty(), sized = o.clusterSize != 0;
    if (Is(tool, "FAT") || Is(tool, "FAT32")) {
        if (Is(tool, "FAT32")) argv.insert(argv.end(), {"-F", "32"});
        argv.push_back("-I");  // a whole device without partitions is what we were given
        if (label) argv.insert(argv.end(), {"-n", o.label});
        if (sized && o.clusterSize >= o.sectorSize)
            argv.insert(argv.end(), {"-s", std::to_string(o.clusterSize / o.sectorSize)});
        if (!o.quick) argv.push_back("-c");
    } else if (Is(tool, "exFAT")) {
        if (label) argv.insert(argv.end(), {"-L", o.label});
        if (sized) argv.insert(argv.end(), {"-c", cluster});
        if (!o.quick) argv.push_back("--full-format");
    } else if (Is(tool, "NTFS")) {
        argv.push_back("-F");  // also a device that is no partition
        if (o.quick) argv.push_back("-Q");
        if (label) argv.insert(argv.end(), {"-L", o.label});
        if (sized) argv.insert(argv.end(), {"-c", cluster});
    } else if (Is(tool, "xfs") || Is(tool, "btrfs")) {
        // Neither has a check pass: the quick flag changes nothing.
        argv.push_back("-f");
        if (label) argv.insert(argv.end(), {"-L", o.label});
        if (sized && Is(tool, "xfs")) argv.insert(argv.end(), {"-b", "size=" + cluster});
        if (sized && Is(tool, "btrfs")) argv.insert(argv.end(), {"-s", cluster});
    } else {  // ext3, ext4
        argv.push_back("-F");
        if (label) argv.insert(argv.end(), {"-L", o.label});
        if (sized) argv.insert(argv.end(), {"-b", cluster});
        if (!o.quick) argv.push_back("-c");
    }
    argv.push_back(o.device);
    return argv;
}

std::vector<std::string> FuseMountCommand(const FileSystemTool& tool, const std::string& device,
                                          const std::string& mountPoint) {
    // fusefat names itself as the source unless told: the mount table must show the device.
    if (Is(tool, "FAT") || Is(tool, "FAT32"))
        return {"fusefat", "-o", "rw+,fsname=" + device, device, mountPoint};
    if (Is(tool, "exFAT")) return {"mount", "-t", "exfat-fuse", device, mountPoint};
    if (Is(tool, "NTFS")) return {"ntfs-3g", device, mountPoint};
    return {};
}

int ProgressParser::Feed(const std::string& chunk) {
    int last = -1;
    for (char c : chunk) {
        if (c == '\r' || c == '\n' || c == '\b') {
            const int percent = Parse(m_line);
            if (percent >= 0) last = percent;
            m_line.clear();
        } else {
            m_line += c;
        }
    }
    return last;
}

int ProgressParser::Parse(const std::string& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i])) ||
            (i > 0 && std::isdigit(static_cast<unsigned char>(line[i - 1]))))
            continue;
        char* end = nullptr;
        const double value = std::strtod(line.c_str() + i, &end);
        std::string rest(end);
        if (rest.compare(0, 1, "%") == 0 || rest.compare(0, 8, " percent") == 0)
            return value <= 100 ? static_cast<int>(value) : -1;
        if (rest.compare(0, 1, "/") == 0) {
            const double total = std::strtod(end + 1, nullptr);
            if (total > 0 && value <= total) return static_cast<int>(100 * value / total);
        }
    }
    return -1;
}

}  // namespace fmifs
}  // namespace Ovra
