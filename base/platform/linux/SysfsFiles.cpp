#include "base/platform/linux/SysfsFiles.h"

#include "base/platform/linux/Syscalls.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <utility>

namespace Ovra {
namespace platform {
namespace posix {

bool ReadFile(const std::string& path, std::string& content, std::size_t limit) {
    const int fd = Syscalls().open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (text.size() < limit &&
           (got = Syscalls().read(fd, buffer, std::min(sizeof buffer, limit - text.size()))) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    Syscalls().close(fd);
    if (got < 0) return false;
    content = std::move(text);
    return true;
}

bool ReadAttribute(const std::string& path, std::string& value) {
    if (!ReadFile(path, value)) return false;
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return true;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    const int fd = Syscalls().open(path.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return names;
    DIR* folder = ::fdopendir(fd);  // owns the descriptor from here on
    if (!folder) {
        Syscalls().close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(folder);
    return names;
}

std::string LinkTarget(const std::string& path) {
    char buffer[4096];
    const ssize_t size = Syscalls().readlink(path.c_str(), buffer, sizeof buffer);
    return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
