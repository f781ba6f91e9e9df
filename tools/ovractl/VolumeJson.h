#pragma once

// The JSON of one volume: what `ovractl volumes --json` prints and what `serve` answers on
// /api/volumes.

#include <Ovra/StorageLogicalDrive.h>

#include <nlohmann/json.hpp>

#include <string>

namespace ovractl {

// The name of a file-system code ("NTFS", "ext4"), or "other".
std::string FileSystemName(int code);
// "unknown", "no root", "removable", "fixed", "remote", "optical", "RAM disk".
std::string DriveTypeName(int type);
// `driveType`: StorageLogicalDrive::GetDriveTypeW of the volume's root.
nlohmann::json VolumeJson(const Ovra::LogicalDrive& volume, int driveType);

}  // namespace ovractl
