#pragma once

// The file systems libfmifs can make: the mkfs command for each, how to mount the result, and
// the progress that the tools print.

#include <string>
#include <vector>

namespace Ovra {
namespace fmifs {

struct FileSystemTool {
    const char* name;        // as the formatter names it: "FAT32", "NTFS", "exFAT", "ext4", ...
    const char* mkfs;        // the program that makes it
    const char* kernelType;  // the kernel driver's name for mount(2)
};

// The tool for a file-system name, matched exactly; null when there is none.
const FileSystemTool* FindTool(const std::string& name);

// The file systems whose mkfs is installed, in table order.
std::vector<const FileSystemTool*> InstalledTools();

struct MkfsOptions {
    std::string device;
    std::string label;  // empty: none
    bool quick = true;
    unsigned int clusterSize = 0;   // bytes; 0: the file system's default
    unsigned int sectorSize = 512;  // when the device does not tell its own
};

// The mkfs command line: forced (the device is ours and unmounted), with the label and cluster
// size, and a full pass over the device (a bad-block check or zeroing) when not quick.
std::vector<std::string> MkfsCommand(const FileSystemTool& tool, const MkfsOptions& options);

// The FUSE driver's command that mounts `device` at `mountPoint` when the kernel has no driver;
// empty for file systems the kernel always has.
std::vector<std::string> FuseMountCommand(const FileSystemTool& tool, const std::string& device,
                                          const std::string& mountPoint);

// Reads progress out of mkfs output: "NN%", "NN percent", or "done/total" (ext4's table writing).
// Lines may end in \r or be rewritten with backspaces, so any of \r \n \b ends a line.
class ProgressParser {
public:
    // The last percentage the chunk completed, or -1 when it told none.
    int Feed(const std::string& chunk);

private:
    static int Parse(const std::string& line);
    std::string m_line;
};

}  // namespace fmifs
}  // namespace Ovra
