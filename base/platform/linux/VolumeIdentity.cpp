#include "base/platform/linux/VolumeIdentity.h"

#include <cctype>

namespace Ovra {
namespace platform {
namespace posix {

std::string WindowsFileSystemName(const std::string& type, const std::string& version) {
    if (type == "ntfs") return "NTFS";
    if (type == "exfat") return "exFAT";
    if (type == "ext3") return "Ext3";
    if (type == "vfat" || type == "msdos") return version == "FAT32" ? "FAT32" : "FAT";
    return type;
}

std::uint32_t FoldSerial(const std::string& type, const std::string& uuid) {
    std::string digits;
    for (char c : uuid) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    }
    if (type == "ntfs" && digits.size() > 8) digits.erase(0, digits.size() - 8);
    std::uint32_t serial = 0;
    // Words are counted from the end, so a shorter leading group is the high part of its word.
    for (std::size_t end = digits.size(); end > 0; end = end > 8 ? end - 8 : 0) {
        const std::size_t begin = end > 8 ? end - 8 : 0;
        serial ^=
            static_cast<std::uint32_t>(std::stoul(digits.substr(begin, end - begin), nullptr, 16));
    }
    return serial;
}

std::uint32_t ExtSerialFromFsid(unsigned long fsid) {
    const std::uint64_t value = fsid;
    return __builtin_bswap32(static_cast<std::uint32_t>(value) ^
                             static_cast<std::uint32_t>(value >> 32));
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
