#pragma once

// Small reads of sysfs and procfs through the system-call table, so that tests can point them at a
// folder of their own.

#include <cstddef>
#include <string>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

// The content of a file, up to `limit` bytes; false (and `content` untouched) when it cannot be
// read.
bool ReadFile(const std::string& path, std::string& content, std::size_t limit = 4096);

// A sysfs attribute without the line end the kernel adds; false when it cannot be read.
bool ReadAttribute(const std::string& path, std::string& value);

// The names in a folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& path);

// The target of a symbolic link; empty when `path` is none.
std::string LinkTarget(const std::string& path);

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
