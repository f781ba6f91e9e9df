#include "base/platform/linux/DiskList.h"

#include "base/platform/linux/SysfsFiles.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Runs of digits compare as numbers, everything else alphabetically.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digits = IsDigit(a[i]) && IsDigit(b[j]);
        std::size_t endA = i + 1, endB = j + 1;
        if (digits) {
            while (endA < a.size() && IsDigit(a[endA])) ++endA;
            while (endB < b.size() && IsDigit(b[endB])) ++endB;
        }
        std::string runA = a.substr(i, endA - i), runB = b.substr(j, endB - j);
        if (digits) {
            runA.erase(0, std::min(runA.find_first_not_of('0'), runA.size() - 1));
            runB.erase(0, std::min(runB.find_first_not_of('0'), runB.size() - 1));
            if (runA.size() != runB.size()) return runA.size() < runB.size();
        }
        if (runA != runB) return runA < runB;
        i = endA;
        j = endB;
    }
    return a.size() - i < b.size() - j;
}

// Disks named by letters (sd, vd, hd, xvd: sda ... sdz, sdaa) come first, ordered by the number
// the letters count; then other disks (nvme, mmcblk, ...); loop devices last.
std::pair<int, std::string> SortKey(const std::string& name) {
    if (StartsWith(name, "loop")) return {2, name};
    for (const char* family : {"sd", "vd", "hd", "xvd"}) {
        const std::size_t length = std::char_traits<char>::length(family);
        if (name.size() <= length || !StartsWith(name, family)) continue;
        unsigned long long number = 0;
        std::size_t i = length;
        for (; i < name.size() && name[i] >= 'a' && name[i] <= 'z' && number < (1ull << 50); ++i)
            number = number * 26 + static_cast<unsigned>(name[i] - 'a' + 1);
        if (i == name.size()) return {0, family + std::to_string(number)};
    }
    return {1, name};
}

bool IsPhysicalDisk(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    if (StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "sr")) return false;
    const std::string block = "/sys/block/" + name;
    std::string ignored;
    if (ReadFile(block + "/partition", ignored)) return false;
    return !StartsWith(name, "loop") || ReadFile(block + "/loop/backing_file", ignored);
}

}  // namespace

std::vector<std::string> ListPhysicalDisks() {
    std::vector<std::string> disks;
    for (const std::string& name : ListFolder("/sys/block")) {
        if (IsPhysicalDisk(name)) disks.push_back(name);
    }
    std::sort(disks.begin(), disks.end(), [](const std::string& a, const std::string& b) {
        const auto keyA = SortKey(a), keyB = SortKey(b);
        return keyA.first != keyB.first ? keyA.first < keyB.first
                                        : NaturalLess(keyA.second, keyB.second);
    });
    return disks;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
