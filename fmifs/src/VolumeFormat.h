#pragma once

// One format of a mounted volume: check that the root may be formatted, unmount it, make the new
// file system, mount it again at the same point.

#include <functional>
#include <string>

namespace Ovra {
namespace fmifs {

struct FormatRequest {
    std::string root;        // the mount point with a trailing slash
    std::string fileSystem;  // a name of FileSystemTools.h
    std::string label;
    bool quick = true;
    unsigned int clusterSize = 0;
};

// Receives the progress in percent; returning false cancels the format.
using ProgressSink = std::function<bool(unsigned int percent)>;

// True when the new file system is made and mounted. Refuses, without touching anything, a root
// that is not a volume (a block device's file system mounted there), the system's root file
// system, and a device that holds another mounted file system (another mount of it, or a
// partition of it, or the disk it is a partition of). A volume whose new file system cannot be
// mounted as asked is mounted again by the system's mount program and the format fails.
bool FormatVolume(const FormatRequest& request, const ProgressSink& progress);

// The logical sector size of `device`; `fallback` when the device does not tell it.
unsigned int DeviceSectorSize(const std::string& device, unsigned int fallback);

}  // namespace fmifs
}  // namespace Ovra
