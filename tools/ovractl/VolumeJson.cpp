#include "VolumeJson.h"

#include "Output.h"

#include <Ovra/StorageFormatter.h>

#include <cstdio>

namespace ovractl {

std::string FileSystemName(int code) {
    std::wstring name;
    return Ovra::StorageFormatter::GetFsName(code, name) ? Utf8(name) : "other";
}

std::string DriveTypeName(int type) {
    static const char* const kNames[] = {"unknown", "no root", "removable", "fixed",
                                         "remote",  "optical", "RAM disk"};
    return type >= 0 && type <= 6 ? kNames[type] : "unknown";
}

nlohmann::json VolumeJson(const Ovra::LogicalDrive& v, int driveType) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%04X-%04X", v.serialNumber >> 16,
                  v.serialNumber & 0xFFFF);
    nlohmann::json object{{"root", Utf8(v.root)},
                          {"label", Utf8(v.volumeName)},
                          {"fileSystem", FileSystemName(v.fileSystem)},
                          {"fileSystemCode", v.fileSystem},
                          {"type", DriveTypeName(driveType)},
                          {"totalBytes", v.totalSize},
                          {"freeBytes", v.freeSize},
                          {"serial", serial}};
    const bool knownDisk = v.driveIndex != static_cast<std::size_t>(-1);
    object["disk"] = knownDisk ? nlohmann::json(v.driveIndex) : nlohmann::json(nullptr);
    return object;
}

}  // namespace ovractl
