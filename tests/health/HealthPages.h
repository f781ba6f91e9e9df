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

// SMART data: the attributes, the self-test execution status (byte 363), the off-line
// capability (367: bit 4 self-tests, bit 5 conveyance; QEMU's disk runs no conveyance test) and
// error logging (370 bit 0).
inline Bytes AttributePage(const std::vector<AtaEntry>& entries, std::uint8_t execution = 0,
                           std::uint8_t capability = 0x10) {
    Bytes page(512, 0);
    page[363] = execution;
    page[367] = capability;
    page[370] = 1;
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

// RETURN STATUS answers LBA mid and high: 4Fh C2h passed, F4h 2Ch failing. Self-tests start.
inline SimDevice AtaDisk(const Bytes& data = AttributePage(QemuAttributes()),
                         std::uint8_t lbaMid = 0x4F, std::uint8_t lbaHigh = 0xC2) {
    SimDevice disk = fakes::SmartDisk(data, QemuThresholds());
    Bytes status(24, 0);  // IDEREGS after the status head: LBA mid and high at 3 and 4
    Put(status, 19, lbaMid | lbaHigh << 8, 2);
    disk.Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0, 0xEC),
                WithReplyHead(IdentifyPage("QEMU HARDDISK", "QM00001", true)))
        .Answer(fakes::kSmartSendDriveCommand, fakes::AtaSelector(0xDA, 0xB0), status)
        .Answer(fakes::kSmartSendDriveCommand, fakes::AtaSelector(0xD4, 0xB0), Bytes(16, 0))
        .Answer(fakes::kStorageQueryProperty, 0, fakes::Descriptor("ATA", "QEMU HARDDISK", ""));
    return disk;
}

// The ATA self-test log (06h): `tests` in the descriptors from `first` on, wrapping after 21.
struct AtaTest {
    std::uint8_t number, status;
    std::uint16_t hours;
    std::uint32_t lba;
};
inline Bytes AtaSelfTestLog(const std::vector<AtaTest>& tests, std::uint8_t newest,
                            std::size_t first = 0) {
    Bytes page(512, 0);
    for (std::size_t i = 0; i < tests.size(); ++i) {
        const std::size_t at = 2 + 24 * ((first + i) % 21);
        Put(page, at, tests[i].number | tests[i].status << 8 | tests[i].hours << 16, 4);
        Put(page, at + 5, tests[i].lba, 4);
    }
    page[508] = newest;
    return Sealed(page);
}
// Answers READ LOG of the self-test log and of a summary error log holding `errors`.
inline SimDevice WithAtaLogs(SimDevice disk, const Bytes& selfTests, std::uint16_t errors = 0) {
    Bytes errorLog(512, 0);
    Put(errorLog, 452, errors, 2);
    for (std::uint8_t log : {6, 1})
        disk.Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0xD5, 0xB0, log),
                    WithReplyHead(log == 6 ? selfTests : Sealed(errorLog)));
    return disk;
}

inline Bytes NvmeLog(int criticalWarning, int spare, int used = 0) {
    Bytes page(512, 0);
    // 323 K: 50 °C; spare threshold 10 %.
    Put(page, 0, criticalWarning | 323 << 8 | spare << 24 | (10ull | used << 8) << 32, 6);
    return page;
}

// Answers the NVMe query of `type` (1 Identify, 2 log page) and `value` on `property` with
// `data` after its STORAGE_PROTOCOL_DATA_DESCRIPTOR.
inline void AnswerNvme(SimDevice& disk, std::uint32_t type, std::uint32_t value, const Bytes& data,
                       std::uint32_t property = 50) {
    Bytes reply(48, 0);
    Put(reply, 0, 48 | 48ull << 32, 8);
    Put(reply, 8, 3 | std::uint64_t{type} << 32, 8);
    Put(reply, 16, value, 4);
    Put(reply, 24, 40 | static_cast<std::uint64_t>(data.size()) << 32, 8);
    reply.insert(reply.end(), data.begin(), data.end());
    disk.Answer(fakes::kStorageQueryProperty, fakes::NvmeSelector(property, type, value), reply);
}

// An NVMe disk answering on `property` (50 the device's, 49 the adapter's) with Identify
// Controller (serial "deadbeef", OACS `oacs`, 4 error log entries) and `log`.
inline SimDevice NvmeDisk(const Bytes& log, std::uint32_t property = 50, std::uint8_t oacs = 0) {
    Bytes descriptor = fakes::Descriptor("", "QEMU NVMe Ctrl", ""), identify(4096, ' ');
    Put(descriptor, 28, 17, 4);  // BusTypeNvme
    const std::string strings = "deadbeef" + std::string(12, ' ') + "QEMU NVMe Ctrl";
    std::copy(strings.begin(), strings.end(), identify.begin() + 4);  // serial, then model at 24
    identify[256] = oacs;
    identify[262] = 3;
    SimDevice disk;
    disk.Answer(fakes::kStorageQueryProperty, 0, descriptor);
    AnswerNvme(disk, 1, 1, identify, property);
    AnswerNvme(disk, 2, 2, log, property);
    return disk;
}

// The Device Self-test log (06h): operation, percent complete, then `tests` (kind << 4 |
// result, valid-info bits, hours, LBA); the other entries unused (a short test's kind, so that
// only the result tells them apart).
struct NvmeTest {
    std::uint8_t status, valid = 0;
    std::uint64_t hours = 0, lba = 0;
};
inline Bytes NvmeSelfTestLog(std::uint8_t operation, std::uint8_t complete,
                             const std::vector<NvmeTest>& tests = {}) {
    Bytes page(564, 0);
    page[0] = operation;
    page[1] = complete;
    for (std::size_t i = 0; i < 20; ++i) {
        const NvmeTest test = i < tests.size() ? tests[i] : NvmeTest{0x1F};  // Fh: unused
        Put(page, 4 + 28 * i, test.status | test.valid << 16, 4);
        Put(page, 8 + 28 * i, test.hours, 8);
        Put(page, 20 + 28 * i, test.lba, 8);
    }
    return page;
}
// A disk that runs self-tests, with its self-test log and error log entries of these counts.
inline SimDevice NvmeTestingDisk(const Bytes& selfTests,
                                 const std::vector<std::uint64_t>& errors = {}) {
    SimDevice disk = NvmeDisk(NvmeLog(0, 100), 50, 0x10);
    Bytes entries(256, 0);
    for (std::size_t i = 0; i < errors.size(); ++i) Put(entries, 64 * i, errors[i], 8);
    AnswerNvme(disk, 2, 6, selfTests);
    AnswerNvme(disk, 2, 1, entries);
    Bytes accepted(144, 0);  // the request with ReturnStatus success
    Put(accepted, 16, 1, 4);
    disk.Answer(fakes::kStorageProtocolCommand, 0x14, accepted);
    return disk;
}

}  // namespace testing_health
}  // namespace Ovra
