#pragma once

// Simulated disks that answer a health reading: an ATA disk with SMART, IDENTIFY and RETURN
// STATUS, and an NVMe disk with Identify Controller and the health log.

#include "tests/fakes/SimDevice.h"
#include "tests/health/HealthPages.h"

namespace Ovra {
namespace testing_health {

using fakes::SimDevice;

// The attributes of QEMU's SATA disk: pre-failure 1, 3 and 5, temperature 31 °C in 190.
inline std::vector<AtaEntry> QemuAttributes() {
    return {{1, 0x000F, 100, 100, 0}, {3, 0x0003, 100, 100, 16}, {4, 0x0032, 100, 100, 9},
            {5, 0x0033, 100, 100, 0}, {9, 0x0032, 100, 100, 52}, {12, 0x0032, 100, 100, 9},
            {190, 0x0022, 69, 69, 31}};
}
inline Bytes QemuThresholds() {
    return ThresholdPage({{1, 6}, {3, 0}, {5, 36}, {190, 50}});
}

inline Bytes WithReplyHead(const Bytes& page) {
    Bytes reply(16, 0);
    fakes::Put(reply, 0, page.size(), 4);
    reply.insert(reply.end(), page.begin(), page.end());
    return reply;
}

inline SimDevice AtaDisk(const Bytes& data, const Bytes& thresholds = QemuThresholds(),
                         std::uint8_t lbaMid = 0x4F, std::uint8_t lbaHigh = 0xC2,
                         const Bytes& identify = IdentifyPage("QEMU HARDDISK", "QM00001", "2.5+")) {
    SimDevice disk = fakes::SmartDisk(data, thresholds);
    Bytes status(24, 0);
    status[16 + 3] = lbaMid;  // IDEREGS after the status head: LBA mid and high
    status[16 + 4] = lbaHigh;
    disk.Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0, 0xEC), WithReplyHead(identify))
        .Answer(fakes::kSmartSendDriveCommand, fakes::AtaSelector(0xDA, 0xB0), status)
        .Answer(fakes::kStorageQueryProperty, 0, fakes::Descriptor("ATA", "QEMU HARDDISK", ""));
    return disk;
}

// STORAGE_PROTOCOL_DATA_DESCRIPTOR for NVMe data, the data right after its specific data.
inline Bytes ProtocolReply(std::uint32_t dataType, std::uint32_t value, const Bytes& data) {
    Bytes reply(48, 0);
    fakes::Put(reply, 0, 48, 4);
    fakes::Put(reply, 4, 48, 4);
    fakes::Put(reply, 8, 3, 4);
    fakes::Put(reply, 12, dataType, 4);
    fakes::Put(reply, 16, value, 4);
    fakes::Put(reply, 24, 40, 4);
    fakes::Put(reply, 28, data.size(), 4);
    reply.insert(reply.end(), data.begin(), data.end());
    return reply;
}

// An NVMe disk answering on `property` (50 the device's, 49 the adapter's).
inline SimDevice NvmeDisk(const NvmeLogFields& log, std::uint32_t property = 50) {
    Bytes descriptor = fakes::Descriptor("NVMe", "QEMU NVMe Ctrl", "deadbeef");
    fakes::Put(descriptor, 28, 17, 4);  // BusTypeNvme
    SimDevice disk;
    disk.Answer(fakes::kStorageQueryProperty, 0, descriptor)
        .Answer(fakes::kStorageQueryProperty, fakes::NvmeSelector(property, 1, 1),
                ProtocolReply(1, 1, NvmeIdentify("deadbeef", "QEMU NVMe Ctrl", "8.0.0")))
        .Answer(fakes::kStorageQueryProperty, fakes::NvmeSelector(property, 2, 2),
                ProtocolReply(2, 2, NvmeLog(log)));
    return disk;
}

}  // namespace testing_health
}  // namespace Ovra
