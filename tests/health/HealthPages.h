#pragma once

// Health pages built byte by byte, independently of the library's readers, and simulated disks
// answering a health reading with them: an ATA disk (SMART pages, IDENTIFY, RETURN STATUS) and
// an NVMe disk (Identify Controller, health log).

#include "tests/fakes/SimDevice.h"

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace Ovra {
namespace testing_health {

using fakes::Bytes;
using fakes::Put;
using fakes::SimDevice;

// An attribute: id, flags, value, worst, raw value.
using AtaEntry = std::tuple<std::uint8_t, std::uint16_t, std::uint8_t, std::uint8_t, long long>;
// A self-test log entry: ATA number, status, hours, LBA; NVMe status, valid-info bits, hours, LBA.
using TestEntry = std::array<std::uint64_t, 4>;

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
        const auto [id, flags, value, worst, raw] = entries[i];
        Put(page, 2 + 12 * i, id | flags << 8 | static_cast<std::uint32_t>(value) << 24, 4);
        Put(page, 6 + 12 * i, worst | static_cast<std::uint64_t>(raw) << 8, 7);
        page[13 + 12 * i] = 0x5A;  // reserved: never part of the raw value
    }
    return Sealed(page);
}

// ATA strings: two characters per little-endian word, the first in the high byte. With the
// signature in word 255 the page carries a checksum.
inline Bytes IdentifyPage(const std::string& model, const std::string& serial, bool signature) {
    Bytes page(512, 0);
    const std::pair<std::size_t, std::string> fields[] = {{10, serial}, {23, "2.5+"}, {27, model}};
    for (const auto& [word, text] : fields)
        for (std::size_t i = 0; i < text.size(); ++i) page[2 * word + (i ^ 1)] = text[i];
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

inline Bytes WithReplyHead(Bytes page) {
    page.insert(page.begin(), 16, 0);
    Put(page, 0, page.size() - 16, 4);
    return page;
}

// RETURN STATUS answers LBA mid and high: 4Fh C2h passed, F4h 2Ch failing. Self-tests start.
inline SimDevice AtaDisk(const Bytes& data = AttributePage(QemuAttributes()),
                         std::uint8_t lbaMid = 0x4F, std::uint8_t lbaHigh = 0xC2) {
    Bytes status(24, 0);  // IDEREGS after the status head: LBA mid and high at 3 and 4
    Put(status, 19, lbaMid | lbaHigh << 8, 2);
    return fakes::SmartDisk(data, QemuThresholds())
        .Answer(fakes::kSmartRcvDriveData, fakes::AtaSelector(0, 0xEC),
                WithReplyHead(IdentifyPage("QEMU HARDDISK", "QM00001", true)))
        .Answer(fakes::kSmartSendDriveCommand, fakes::AtaSelector(0xDA, 0xB0), status)
        .Answer(fakes::kSmartSendDriveCommand, fakes::AtaSelector(0xD4, 0xB0), Bytes(16, 0))
        .Answer(fakes::kStorageQueryProperty, 0, fakes::Descriptor("ATA", "QEMU HARDDISK", ""));
}

// The ATA self-test log (06h): `tests` in the descriptors from `first` on, wrapping after 21.
inline Bytes AtaSelfTestLog(const std::vector<TestEntry>& tests, std::uint8_t newest,
                            std::size_t first = 0) {
    Bytes page(512, 0);
    for (std::size_t i = 0; i < tests.size(); ++i) {
        const auto [number, status, hours, lba] = tests[i];
        const std::size_t at = 2 + 24 * ((first + i) % 21);
        Put(page, at, number | status << 8 | hours << 16, 4);
        Put(page, at + 5, lba, 4);
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
    const std::uint32_t words[] = {48, 48, 3, type, value, 0, 40, std::uint32_t(data.size())};
    for (std::size_t i = 0; i < 8; ++i) Put(reply, 4 * i, words[i], 4);
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
    SimDevice disk = SimDevice().Answer(fakes::kStorageQueryProperty, 0, descriptor);
    AnswerNvme(disk, 1, 1, identify, property);
    AnswerNvme(disk, 2, 2, log, property);
    return disk;
}

// The Device Self-test log (06h): operation, percent complete, then `tests`, whose status is
// kind << 4 | result; the other entries unused (a short test's kind, so that only the result
// tells them apart).
inline Bytes NvmeSelfTestLog(std::uint8_t operation, std::uint8_t complete,
                             const std::vector<TestEntry>& tests = {}) {
    Bytes page(564, 0);
    Put(page, 0, operation | complete << 8, 2);
    for (std::size_t i = 0; i < 20; ++i) {
        const auto [status, valid, hours, lba] = i < tests.size() ? tests[i] : TestEntry{0x1F};
        Put(page, 4 + 28 * i, status | valid << 16, 4);
        Put(page, 8 + 28 * i, hours, 8);
        Put(page, 20 + 28 * i, lba, 8);
    }
    return page;
}
// The STORAGE_PROTOCOL_COMMAND of an NVMe admin command for the adapter, 64 bytes with 10 s to
// run, after the 80-byte head: Device Self-test (14h) of the extended test on every namespace.
inline Bytes NvmeSelfTestRequest() {
    Bytes request(144, 0);
    const std::uint32_t head[] = {1, 84, 3, 0x80000000, 0, 0, 64, 0, 0, 0, 10, 0, 0, 0, 1};
    for (std::size_t i = 0; i < 15; ++i) Put(request, 4 * i, head[i], 4);
    Put(request, 80, 0x14 | 0xFFFFFFFFull << 32, 8);  // opcode, NSID
    Put(request, 120, 2, 4);                          // CDW10: the test's code
    return request;
}
// A disk that runs self-tests, with its self-test log, error log entries of these counts and
// health log.
inline SimDevice NvmeTestingDisk(const Bytes& selfTests,
                                 const std::vector<std::uint64_t>& errors = {},
                                 const Bytes& log = NvmeLog(0, 100)) {
    SimDevice disk = NvmeDisk(log, 50, 0x10);
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
