#pragma once

// A simulated device behind a path such as \\.\PHYSICALDRIVE0: it answers DeviceIoControl from a
// table keyed by the request code and a selector taken from the input bytes, so a new request or
// ATA command is one more Answer. Replies are laid out here at the byte offsets Windows uses,
// independently of the library's own records.

#include "base/platform/DeviceHandle.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Ovra {
namespace fakes {

using Bytes = std::vector<std::uint8_t>;

const std::uint32_t kSmartGetVersion = 0x00074080;
const std::uint32_t kSmartSendDriveCommand = 0x0007C084;
const std::uint32_t kSmartRcvDriveData = 0x0007C088;
const std::uint32_t kStorageQueryProperty = 0x002D1400;
const std::uint32_t kDiskGetDriveGeometry = 0x00070000;
const std::uint32_t kVolumeGetDiskExtents = 0x00560000;

// Selector of a SMART command: its features and command registers.
inline std::uint32_t AtaSelector(std::uint8_t features, std::uint8_t command) {
    return features | command << 8u;
}

// Selector of a protocol-specific storage query (property 49 or 50): the property id, the NVMe
// data type and the request value (log page or identify CNS).
inline std::uint32_t NvmeSelector(std::uint32_t property, std::uint32_t dataType,
                                  std::uint32_t value) {
    return property | dataType << 8u | value << 16u;
}

class SimDevice {
public:
    // What tells requests of one code apart: the ATA features and command registers of the SMART
    // requests (AtaSelector), the property id of the storage query (NvmeSelector for the
    // protocol-specific ones); 0 for every other request.
    static std::uint32_t SelectorOf(std::uint32_t code, const Bytes& input);

    SimDevice& Answer(std::uint32_t code, std::uint32_t selector, Bytes reply);
    SimDevice& Answer(std::uint32_t code, Bytes reply) { return Answer(code, 0, std::move(reply)); }

    // Copies the reply into `out`. A reply longer than `outSize` is cut and fails with
    // ERROR_MORE_DATA, as Windows does; a request without an answer fails.
    int Control(std::uint32_t code, const Bytes& input, void* out, std::uint32_t outSize,
                std::uint32_t* returned, std::uint32_t* error) const;

private:
    std::map<std::pair<std::uint32_t, std::uint32_t>, Bytes> m_replies;
};

// Little-endian store into a reply.
void Put(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t width);

// A 512-byte SMART page: each entry's given leading bytes at 2 + 12 i, entries 30 at most. Every
// other byte (revision, raw values, the tail after entry 30) is 0xC2, itself a monitored id, so a
// reader off by a byte reports wrong values; unused entries have id 0.
Bytes SmartPage(const std::vector<Bytes>& entries);
// Answers the four SMART requests of a reading; `capabilities` of the version reply.
SimDevice SmartDisk(const Bytes& attributePage, const Bytes& thresholdPage,
                    std::uint32_t capabilities = 0x07);

// A 551-byte STORAGE_DEVICE_DESCRIPTOR with the strings after its header, NUL-terminated; an
// empty one gets offset 0.
Bytes Descriptor(const std::string& vendor, const std::string& product, const std::string& serial,
                 bool removable = false);
Bytes Geometry(std::uint64_t cylinders, std::uint32_t tracksPerCylinder,
               std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector);
// Answers the device-descriptor and geometry queries.
SimDevice Disk(const Bytes& descriptor = Descriptor("", "", ""),
               const Bytes& geometry = Geometry(1000, 255, 63, 512));
// A volume device answering the disk-extents query with one extent per listed disk.
SimDevice VolumeDevice(const std::vector<std::uint32_t>& disks);
inline std::wstring VolumePath(wchar_t letter) {
    return std::wstring(L"\\\\.\\") + letter + L":";
}

}  // namespace fakes
}  // namespace Ovra
