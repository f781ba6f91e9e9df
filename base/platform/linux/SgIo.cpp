#include "base/platform/linux/SgIo.h"

#include "base/platform/Platform.h"
#include "base/platform/WinIoctl.h"
#include "base/platform/linux/Syscalls.h"

#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

const unsigned kTimeoutMs = 20000;  // a drive spinning up answers well within this
const std::uint8_t kCheckCondition = 0x02;
const std::uint8_t kIllegalRequest = 0x05;
const std::uint8_t kAtaPassThrough16 = 0x85;
const std::uint8_t kInquiry = 0x12;
// ATA status register: device fault, error.
const std::uint8_t kAtaDf = 0x20;
const std::uint8_t kAtaErr = 0x01;

bool DescriptorFormat(const std::uint8_t* sense) {
    return (sense[0] & 0x7F) == 0x72 || (sense[0] & 0x7F) == 0x73;
}

std::uint8_t SenseKey(const ScsiReply& reply) {
    if (reply.senseLength < 3) return 0;
    return (DescriptorFormat(reply.sense) ? reply.sense[1] : reply.sense[2]) & 0x0F;
}

}  // namespace

std::uint32_t ScsiCommand(int fd, const std::uint8_t* cdb, std::size_t cdbLength,
                          DataDirection direction, void* buffer, std::size_t length,
                          ScsiReply* reply) {
    ScsiReply local;
    ScsiReply& r = reply ? *reply : local;
    r = ScsiReply();
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.dxfer_direction = direction == DataDirection::kIn    ? SG_DXFER_FROM_DEV
                         : direction == DataDirection::kOut ? SG_DXFER_TO_DEV
                                                            : SG_DXFER_NONE;
    io.cmd_len = static_cast<unsigned char>(cdbLength);
    io.cmdp = const_cast<std::uint8_t*>(cdb);
    io.dxfer_len = static_cast<unsigned>(length);
    io.dxferp = buffer;
    io.mx_sb_len = sizeof r.sense;
    io.sbp = r.sense;
    io.timeout = kTimeoutMs;
    if (Syscalls().ioctl(fd, SG_IO, &io) != 0) {
        // Block devices of drivers without SCSI underneath refuse the request itself.
        if (errno == ENOTTY || errno == EINVAL || errno == ENOSYS) return kErrorNotSupported;
        return errno == EACCES || errno == EPERM ? kErrorAccessDenied : kErrorIoDevice;
    }
    r.status = io.status;
    r.hostStatus = io.host_status;
    r.driverStatus = io.driver_status;
    r.senseLength = std::min<std::size_t>(io.sb_len_wr, sizeof r.sense);
    // The driver byte's low bits are errors; DRIVER_SENSE (0x08) only says sense is there.
    if (r.hostStatus != 0 || (r.driverStatus & 0x07) != 0) return kErrorIoDevice;
    if (r.status == 0) return 0;
    if (r.status == kCheckCondition && SenseKey(r) == kIllegalRequest) return kErrorNotSupported;
    return kErrorIoDevice;
}

bool AtaRegistersFromSense(const std::uint8_t* sense, std::size_t length, AtaRegisters& registers) {
    if (!sense || length < 8) return false;
    if (DescriptorFormat(sense)) {
        const std::size_t end = std::min<std::size_t>(length, 8u + sense[7]);
        for (std::size_t at = 8; at + 2 <= end; at += 2u + sense[at + 1]) {
            if (sense[at] != 0x09 || at + 14 > end) continue;
            const std::uint8_t* d = sense + at;
            registers.features = d[3];
            registers.count = d[5];
            registers.lbaLow = d[7];
            registers.lbaMid = d[9];
            registers.lbaHigh = d[11];
            registers.device = d[12];
            registers.command = d[13];
            return true;
        }
        return false;
    }
    // Fixed format: only ATA PASS-THROUGH INFORMATION AVAILABLE (0x00/0x1D) says for sure that the
    // information fields hold registers rather than a block address.
    const bool fixed = (sense[0] & 0x7F) == 0x70 || (sense[0] & 0x7F) == 0x71;
    if (!fixed || length < 14 || sense[12] != 0x00 || sense[13] != 0x1D) return false;
    registers.features = sense[3];
    registers.command = sense[4];
    registers.device = sense[5];
    registers.count = sense[6];
    registers.lbaLow = sense[9];
    registers.lbaMid = sense[10];
    registers.lbaHigh = sense[11];
    return true;
}

std::uint32_t AtaPassThrough16(int fd, const AtaRegisters& in, DataDirection direction,
                               void* buffer, std::size_t length, AtaRegisters* out,
                               bool checkCondition) {
    // PROTOCOL: 3 non-data, 4 PIO data-in, 5 PIO data-out.
    const std::uint8_t protocol = direction == DataDirection::kIn    ? 4
                                  : direction == DataDirection::kOut ? 5
                                                                     : 3;
    // T_LENGTH 2 (the count register), BYT_BLOK 1 (in 512-byte blocks), T_DIR 1 for data-in.
    std::uint8_t flags = direction == DataDirection::kNone ? 0x00 : 0x06;
    if (direction == DataDirection::kIn) flags |= 0x08;
    if (checkCondition) flags |= 0x20;  // CK_COND
    std::uint8_t cdb[16] = {};
    cdb[0] = kAtaPassThrough16;
    cdb[1] = static_cast<std::uint8_t>(protocol << 1);
    cdb[2] = flags;
    cdb[4] = in.features;
    cdb[6] = in.count;
    cdb[8] = in.lbaLow;
    cdb[10] = in.lbaMid;
    cdb[12] = in.lbaHigh;
    cdb[13] = in.device;
    cdb[14] = in.command;
    ScsiReply reply;
    std::uint32_t error = ScsiCommand(fd, cdb, sizeof cdb, direction, buffer, length, &reply);
    AtaRegisters registers;
    const bool transported = reply.hostStatus == 0 && (reply.driverStatus & 0x07) == 0;
    if (transported && reply.status == kCheckCondition &&
        AtaRegistersFromSense(reply.sense, reply.senseLength, registers)) {
        if (out) *out = registers;
        error = (registers.command & (kAtaErr | kAtaDf)) != 0 ? kErrorIoDevice : 0;
    }
    return error;
}

std::uint32_t ScsiInquiry(int fd, int page, std::uint8_t* buffer, std::uint8_t length) {
    const std::uint8_t cdb[6] = {kInquiry,
                                 static_cast<std::uint8_t>(page < 0 ? 0 : 1),
                                 static_cast<std::uint8_t>(page < 0 ? 0 : page),
                                 0,
                                 length,
                                 0};
    std::memset(buffer, 0, length);
    return ScsiCommand(fd, cdb, sizeof cdb, DataDirection::kIn, buffer, length);
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
