#pragma once

// Small reads of sysfs through the system-call table, so that tests can point them at a folder
// of their own.

#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

// The whole content of a small file (up to 4 KiB); false when it cannot be read.
bool ReadSmallFile(const std::string& path, std::string& content);

// A sysfs attribute without the line end the kernel adds; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string& value);

// The names in a folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& path);

// The target of a symbolic link; empty when `path` is none.
std::string LinkTarget(const std::string& path);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
