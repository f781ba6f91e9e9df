#pragma once

// Health pages built byte by byte, independently of the library's readers, and simulated disks
// answering a health reading with them: an ATA disk (SMART pages, IDENTIFY, RETURN STATUS) and
// an NVMe disk (Identify Controller, health log).

#include "tests/fakes/SimDevice.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace Ovra {
namespace testing_health {

using fakes::Bytes;
using fakes::Put;
using fakes::SimDevice;

struct AtaEntry {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t value, worst;
    long long raw;
};

// Sets the last byte of a 512-byte page so that the page sums to 0 modulo 256.
inline Bytes Sealed(Bytes page) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + page.at(i));
    page.at(511) = static_cast<std::uint8_t>(0x100 - sum);
    return page;
}

inline Bytes AttributePage(const std::vector<AtaEntry>& entries) {
    Bytes page(512, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const AtaEntry& e = entries[i];
        Put(page, 2 + 12 * i, e.id | e.flags << 8 | static_cast<std::uint32_t>(e.value) << 24, 4);
        Put(page, 6 + 12 * i, e.worst | static_cast<std::uint64_t>(e.raw) << 8, 7);
        page[13 + 12 * i] = 0x5A;  // reserved: never part of the raw value
    }
    return Sealed(page);
}

// ATA strings: two characters per little-endian word, the first in the high byte. With the
// signature in word 255 the page carries a checksum.
inline Bytes IdentifyPage(const std::string& model, const std::string& serial, bool signature) {
    Bytes page(512, 0);
    const std::pair<std::size_t, std::string> fields[] = {{10, serial}, {23, "2.5+"}, {27, model}};
    for (const auto& field : fields) {
        for (std::size_t i = 0; i < field.second.size(); ++i)
            page[2 * field.first + (i ^ 1)] = field.second[i];
    }
    Put(page, 164, 0x40000001, 4);  // SMART supported (word 82 bit 0), words 82-84 valid (83)
    page[510] = signature ? 0xA5 : 0;
    return signature ? Sealed(page) : page;
}

// The attributes of QEMU's SATA disk: power-on hours 52 in the low 32 bits of 9's raw value, 31 °C
// in the low byte of 190's.
inline std::vector<AtaEntry> QemuAttributes(long long reallocated = 0, std::uint8_t value5 = 100) {
    return {{1, 0x0F, 100, 100, 0},
            {3, 0x03, 100, 100, 16},
            {4, 0x32, 100, 100, 9},
            {5, 0x33, value5, value5, reallocated},
            {9, 0x32, 100, 100, 0x123400000034},
            {12, 0x32, 100, 100, 9},
            {190, 0x22, 69, 69, 0x2D00241F}};
}
inline Bytes QemuThresholds() {
    Bytes page(512, 0);
    const std::uint8_t entries[][2] = {{1, 6}, {3, 0}, {5, 36}, {190, 50}};
    for (std::size_t i = 0; i < 4; ++i)
        Put(page, 2 + 12 * i, entries[i][0] | entries[i][1] << 8, 2);
    return Sealed(page);
}

inline Bytes WithReplyHead(const Bytes& page) {
    Bytes reply(16 + page.size(), 0);
    Put(reply, 0, page.size(), 4);
    std::copy(page.begin(), page.end(), reply.begin() + 16);
    return reply;
}

// RETURN STATUS answers LBA mid and high: 4Fh C2h passed, F4h 2Ch failing.
inline SimDevice AtaDisk(const Bytes& data = AttributePage(QemuAttributes()),
                         std::uint8_t lbaMid = 0x4F, std::uint8_t lbaHigh = 0xC2) {
    SimDevice disk = fakes::SmartDisk(data, QemuThresholds());
    Bytes status(24, 0);  // IDEREGS after the status head: LBA mid and high at 3 and 4
    Put(status, 19, lbaMid | lbaHigh << 8, 2);
    disk.Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0, 0xEC),
                WithReplyHead(IdentifyPage("QEMU HARDDISK", "QM00001", true)))
        .Answer(fakes::kSmartSendDriveCommand, fakes::AtaSelector(0xDA, 0xB0), status)
        .Answer(fakes::kStorageQueryProperty, 0, fakes::Descriptor("ATA", "QEMU HARDDISK", ""));
    return disk;
}

inline Bytes NvmeLog(int criticalWarning, int spare, int used = 0) {
    Bytes page(512, 0);
    // 323 K: 50 °C; spare threshold 10 %.
    Put(page, 0, criticalWarning | 323 << 8 | spare << 24 | (10ull | used << 8) << 32, 6);
    return page;
}

// An NVMe disk answering on `property` (50 the device's, 49 the adapter's) with Identify
// Controller (serial "deadbeef") and `log`, each after its STORAGE_PROTOCOL_DATA_DESCRIPTOR.
inline SimDevice NvmeDisk(const Bytes& log, std::uint32_t property = 50) {
    Bytes descriptor = fakes::Descriptor("", "QEMU NVMe Ctrl", ""), identify(4096, ' ');
    Put(descriptor, 28, 17, 4);  // BusTypeNvme
    const std::string strings = "deadbeef" + std::string(12, ' ') + "QEMU NVMe Ctrl";
    std::copy(strings.begin(), strings.end(), identify.begin() + 4);  // serial, then model at 24
    SimDevice disk;
    disk.Answer(fakes::kStorageQueryProperty, 0, descriptor);
    for (std::uint32_t type : {1, 2}) {
        const Bytes& data = type == 1 ? identify : log;
        Bytes reply(48, 0);
        Put(reply, 0, 48 | 48ull << 32, 8);
        Put(reply, 8, 3 | std::uint64_t{type} << 32, 8);
        Put(reply, 16, type, 4);
        Put(reply, 24, 40 | static_cast<std::uint64_t>(data.size()) << 32, 8);
        reply.insert(reply.end(), data.begin(), data.end());
        disk.Answer(fakes::kStorageQueryProperty, fakes::NvmeSelector(property, type, type), reply);
    }
    return disk;
}

}  // namespace testing_health
}  // namespace Ovra
