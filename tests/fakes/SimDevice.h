#pragma once

// A simulated device behind a path such as \\.\PHYSICALDRIVE0: it answers DeviceIoControl from a
// table keyed by the request code and a selector taken from the input bytes, so a new request or
// ATA command is one more Answer. Replies are laid out here at the byte offsets Windows uses,
// independently of the library's own records.

#include "base/platform/DeviceHandle.h"
#include "base/platform/Platform.h"

#include <algorithm>
#include <cstring>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Ovra::fakes {

using Bytes = std::vector<std::uint8_t>;

const std::uint32_t kSmartSendDriveCommand = 0x0007C084, kSmartRcvDriveData = 0x0007C088,
                    kStorageQueryProperty = 0x002D1400, kStorageProtocolCommand = 0x002DD3C0;

// Selector of a SMART command: its features and command registers, and for READ LOG (D5h) the
// log address.
inline std::uint32_t AtaSelector(std::uint8_t features, std::uint8_t command,
                                 std::uint8_t logAddress = 0) {
    return features | command << 8u | logAddress << 16u;
}

// Selector of a protocol-specific storage query (property 49 or 50): the property id, the NVMe
// data type and the request value (log page or identify CNS).
inline std::uint32_t NvmeSelector(std::uint32_t property, std::uint32_t dataType,
                                  std::uint32_t value) {
    return property | dataType << 8u | value << 16u;
}

class SimDevice {
public:
    // What tells requests of one code apart: the ATA registers of the SMART requests
    // (AtaSelector), the property id of the storage query (NvmeSelector for the
    // protocol-specific ones), the NVMe opcode of a protocol command; 0 for every other request.
    static std::uint32_t SelectorOf(std::uint32_t code, const Bytes& input) {
        // IDEREGS: features at 4, LBA low at 6, command at 10.
        if ((code == kSmartSendDriveCommand || code == kSmartRcvDriveData) && input.size() > 10)
            return AtaSelector(input[4], input[10], input[4] == 0xD5 ? input[6] : 0);
        if (code == kStorageProtocolCommand) return input.size() > 80 ? input[80] : 0;
        if (code != kStorageQueryProperty || input.size() < 4) return 0;
        std::uint32_t field[5] = {};  // STORAGE_PROPERTY_QUERY; protocol-specific data from 8
        std::memcpy(field, input.data(), std::min<std::size_t>(input.size(), sizeof field));
        if ((field[0] == 49 || field[0] == 50) && input.size() >= 20)
            return NvmeSelector(field[0], field[3], field[4]);
        return field[0];
    }

    SimDevice& Answer(std::uint32_t code, std::uint32_t selector, Bytes reply) {
        m_replies[{code, selector}] = std::move(reply);
        return *this;
    }
    SimDevice& Answer(std::uint32_t code, Bytes reply) { return Answer(code, 0, std::move(reply)); }

    // Copies the reply into `out`. A reply longer than `outSize` is cut and fails with
    // ERROR_MORE_DATA, as Windows does; a request without an answer fails.
    int Control(std::uint32_t code, const Bytes& input, void* out, std::uint32_t outSize,
                std::uint32_t* returned, std::uint32_t* error) const {
        auto it = m_replies.find({code, SelectorOf(code, input)});
        *returned = 0;
        if (it == m_replies.end()) return *error = platform::kErrorNotSupported, 0;
        *returned = static_cast<std::uint32_t>(std::min<std::size_t>(outSize, it->second.size()));
        if (*returned) std::memcpy(out, it->second.data(), *returned);
        *error = 234;  // ERROR_MORE_DATA
        return *returned == it->second.size();
    }

private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> m_replies;
};

// Little-endian store into a reply.
inline void Put(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes.at(at + i) = (value >> (8 * i)) & 0xFF;
}

// A 512-byte SMART page: each entry's given leading bytes at 2 + 12 i, entries 30 at most. Every
// other byte (revision, raw values, the tail after entry 30) is 0xC2, itself a monitored id, so a
// reader off by a byte reports wrong values; unused entries have id 0.
inline Bytes SmartPage(const std::vector<Bytes>& entries) {
    Bytes page(512, 0xC2);
    for (std::size_t i = 0; i < 30; ++i) {
        const Bytes entry = i < entries.size() ? entries[i] : Bytes{0};
        std::copy(entry.begin(), entry.end(), page.begin() + 2 + 12 * i);
    }
    return page;
}

// Answers the four SMART requests of a reading; `capabilities` of the version reply.
inline SimDevice SmartDisk(const Bytes& attributePage, const Bytes& thresholdPage,
                           std::uint32_t capabilities = 0x07) {
    Bytes version(24, 0);
    Put(version, 0, 0x01000101, 4);  // version, revision, reserved, device map
    Put(version, 4, capabilities, 4);
    const auto withHead = [](const Bytes& page) {
        Bytes reply(16, 0);
        Put(reply, 0, 512, 4);
        reply.insert(reply.end(), page.begin(), page.end());
        return reply;
    };
    return SimDevice()
        .Answer(0x00074080, version)  // SMART_GET_VERSION
        .Answer(kSmartSendDriveCommand, AtaSelector(0xD8, 0xB0), Bytes(16, 0))
        .Answer(kSmartRcvDriveData, AtaSelector(0xD0, 0xB0), withHead(attributePage))
        .Answer(kSmartRcvDriveData, AtaSelector(0xD1, 0xB0), withHead(thresholdPage));
}

// A 551-byte STORAGE_DEVICE_DESCRIPTOR with the strings after its header, NUL-terminated; an
// empty one gets offset 0.
inline Bytes Descriptor(const std::string& vendor, const std::string& product,
                        const std::string& serial, bool removable = false) {
    Bytes bytes(551, 0);
    Put(bytes, 0, 40, 4);  // Version: the header's size
    Put(bytes, 4, 40, 4);  // Size
    bytes[10] = removable ? 1 : 0;
    std::size_t next = 40;
    const std::pair<std::size_t, const std::string*> fields[] = {
        {12, &vendor}, {16, &product}, {24, &serial}};
    for (const auto& field : fields) {
        if (field.second->empty()) continue;
        Put(bytes, field.first, next, 4);
        std::copy(field.second->begin(), field.second->end(), bytes.begin() + next);
        next += field.second->size() + 1;
    }
    return bytes;
}

inline Bytes Geometry(std::uint64_t cylinders, std::uint32_t tracksPerCylinder,
                      std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector) {
    Bytes bytes(24, 0);
    Put(bytes, 0, cylinders, 8);
    Put(bytes, 8, 12, 4);  // FixedMedia
    Put(bytes, 12, tracksPerCylinder, 4);
    Put(bytes, 16, sectorsPerTrack, 4);
    Put(bytes, 20, bytesPerSector, 4);
    return bytes;
}

// Answers the device-descriptor and the geometry (0x00070000) queries.
inline SimDevice Disk(const Bytes& descriptor = Descriptor("", "", ""),
                      const Bytes& geometry = Geometry(1000, 255, 63, 512)) {
    return SimDevice().Answer(kStorageQueryProperty, 0, descriptor).Answer(0x00070000, geometry);
}

// A volume device answering the disk-extents query with one extent per listed disk.
inline SimDevice VolumeDevice(const std::vector<std::uint32_t>& disks) {
    Bytes bytes(8 + 24 * disks.size(), 0);
    Put(bytes, 0, disks.size(), 4);
    for (std::size_t i = 0; i < disks.size(); ++i) {
        Put(bytes, 8 + 24 * i, disks[i], 4);
        Put(bytes, 8 + 24 * i + 16, 1ull << 30, 8);  // extent length
    }
    return SimDevice().Answer(0x00560000, bytes);  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS
}

inline std::wstring VolumePath(wchar_t letter) {
    return std::wstring(L"\\\\.\\") + letter + L":";
}

}  // namespace Ovra::fakes
