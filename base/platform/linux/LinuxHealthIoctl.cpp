#include "base/platform/linux/LinuxHealthIoctl.h"

#include "base/platform/Platform.h"
#include "base/platform/WinIoctl.h"
#include "base/platform/linux/SgIo.h"
#include "base/platform/linux/Syscalls.h"

#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {

namespace {

const std::uint8_t kNvmeAdminGetLogPage = 0x02;
const std::uint8_t kNvmeAdminIdentify = 0x06;
const std::uint32_t kMaxProtocolData = 64 * 1024;
const std::uint32_t kMillisecondsPerSecond = 1000;

using ProtocolSpecificData = StorageProtocolSpecificData;
// The query: property id and query type, then the protocol request. The reply: Version and
// Size, then the same record, then the data.
const std::size_t kProtocolAt = 8;

// 0, or the Windows error for a refused request or the controller's own error status.
std::uint32_t AdminCommand(int fd, nvme_admin_cmd& command) {
    const int status = Syscalls().ioctl(fd, NVME_IOCTL_ADMIN_CMD, &command);
    if (status < 0) {
        return errno == ENOTTY || errno == EINVAL  ? kErrorNotSupported
               : errno == EACCES || errno == EPERM ? kErrorAccessDenied
                                                   : kErrorIoDevice;
    }
    return status > 0 ? kErrorIoDevice : 0;
}

}  // namespace

bool IsSmartReturnStatus(const void* in, std::uint32_t inSize) {
    if (!in || inSize < sizeof(SENDCMDINPARAMS) - 1) return false;
    SENDCMDINPARAMS command;
    std::memcpy(&command, in, sizeof command - 1);
    return command.irDriveRegs.bCommandReg == kSmartCmd &&
           command.irDriveRegs.bFeaturesReg == kSmartReturnStatus;
}

std::uint32_t SmartReturnStatus(int fd, void* out, std::uint32_t outSize, std::uint32_t& returned) {
    const std::uint32_t head = sizeof(SENDCMDOUTPARAMS) - 1;
    if (!out || outSize < head + sizeof(IDEREGS)) return kErrorInsufficientBuffer;
    AtaRegisters in;
    in.features = kSmartReturnStatus;
    in.count = 1;
    in.lbaLow = 1;
    in.lbaMid = kSmartCylLow;
    in.lbaHigh = kSmartCylHi;
    in.device = kSmartDriveHead;
    in.command = kSmartCmd;
    AtaRegisters result;
    // Without the registers there is no answer: CK_COND makes the device return them.
    result.command = 0xFF;
    const std::uint32_t error =
        AtaPassThrough16(fd, in, DataDirection::kNone, nullptr, 0, &result, true);
    if (error) return error;
    if (result.command == 0xFF) return kErrorIoDevice;

    SENDCMDOUTPARAMS reply;
    std::memset(&reply, 0, sizeof reply);
    reply.cBufferSize = sizeof(IDEREGS);
    IDEREGS registers;
    std::memset(&registers, 0, sizeof registers);
    registers.bFeaturesReg = result.features;  // the error register
    registers.bSectorCountReg = result.count;
    registers.bSectorNumberReg = result.lbaLow;
    registers.bCylLowReg = result.lbaMid;
    registers.bCylHighReg = result.lbaHigh;
    registers.bDriveHeadReg = result.device;
    registers.bCommandReg = result.command;  // the status register
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memcpy(bytes, &reply, head);
    std::memcpy(bytes + head, &registers, sizeof registers);
    returned = head + sizeof registers;
    return 0;
}

bool IsNvmeProtocolQuery(const void* in, std::uint32_t inSize) {
    if (!in || inSize < kProtocolAt + sizeof(ProtocolSpecificData)) return false;
    std::uint32_t head[3];
    std::memcpy(head, in, sizeof head);  // property id, query type, protocol type
    return (head[0] == kStorageDeviceProtocolSpecificProperty ||
            head[0] == kStorageAdapterProtocolSpecificProperty) &&
           head[1] == 0 && head[2] == kProtocolTypeNvme;
}

std::uint32_t NvmeProtocolQuery(int fd, const void* in, std::uint32_t inSize, void* out,
                                std::uint32_t outSize, std::uint32_t& returned) {
    if (!IsNvmeProtocolQuery(in, inSize)) return kErrorInvalidParameter;
    ProtocolSpecificData request;
    std::memcpy(&request, static_cast<const std::uint8_t*>(in) + kProtocolAt, sizeof request);
    const std::uint32_t length = request.protocolDataLength;
    const bool identify = request.dataType == kNvmeDataTypeIdentify;
    if ((!identify && request.dataType != kNvmeDataTypeLogPage) ||
        request.protocolDataOffset < sizeof request || length == 0 || length > kMaxProtocolData ||
        length % 4 != 0)
        return kErrorInvalidParameter;
    const std::size_t dataAt = kProtocolAt + request.protocolDataOffset;
    if (!out || outSize < dataAt + length) return kErrorInsufficientBuffer;

    std::vector<std::uint8_t> data(length);
    nvme_admin_cmd command;
    std::memset(&command, 0, sizeof command);
    command.addr = reinterpret_cast<std::uintptr_t>(data.data());
    command.data_len = length;
    if (identify) {
        command.opcode = kNvmeAdminIdentify;
        command.cdw10 = request.protocolDataRequestValue;  // CNS
    } else {
        command.opcode = kNvmeAdminGetLogPage;
        command.nsid = kNvmeAllNamespaces;
        // Dword count, zero-based, split over NUMDL (cdw10) and NUMDU (cdw11); offset in 12-13.
        const std::uint32_t dwords = length / 4 - 1;
        command.cdw10 = (dwords & 0xFFFF) << 16 | (request.protocolDataRequestValue & 0xFF);
        command.cdw11 = dwords >> 16;
        command.cdw12 = request.protocolDataRequestSubValue;
        command.cdw13 = request.protocolDataRequestSubValue2;
    }
    const std::uint32_t error = AdminCommand(fd, command);
    if (error) return error;

    auto* bytes = static_cast<std::uint8_t*>(out);
    std::memset(bytes, 0, dataAt);
    const std::uint32_t descriptorSize = kProtocolAt + sizeof request;
    std::memcpy(bytes, &descriptorSize, 4);      // Version
    std::memcpy(bytes + 4, &descriptorSize, 4);  // Size
    request.fixedProtocolReturnData = command.result;
    std::memcpy(bytes + kProtocolAt, &request, sizeof request);
    std::memcpy(bytes + dataAt, data.data(), length);
    returned = static_cast<std::uint32_t>(dataAt + length);
    return 0;
}

std::uint32_t NvmeProtocolCommand(int fd, const void* in, std::uint32_t inSize, void* out,
                                  std::uint32_t outSize, std::uint32_t& returned) {
    StorageProtocolCommand head;
    NvmeCommand nvme;
    if (!in || inSize < sizeof head + sizeof nvme) return kErrorInvalidParameter;
    std::memcpy(&head, in, sizeof head);
    std::memcpy(&nvme, static_cast<const std::uint8_t*>(in) + sizeof head, sizeof nvme);
    if (head.version != kProtocolCommandVersion || head.length != kProtocolCommandLength ||
        head.protocolType != kProtocolTypeNvme || head.commandLength != kNvmeCommandSize ||
        head.commandSpecific != kProtocolSpecificNvmeAdminCommand)
        return kErrorInvalidParameter;
    if (nvme.opcode != kNvmeAdminDeviceSelfTest || head.dataToDeviceTransferLength != 0 ||
        head.dataFromDeviceTransferLength != 0)
        return kErrorNotSupported;
    if (!out || outSize < sizeof head) return kErrorInsufficientBuffer;

    nvme_admin_cmd command;
    std::memset(&command, 0, sizeof command);
    command.opcode = nvme.opcode;
    command.nsid = nvme.nsid;
    command.cdw10 = nvme.cdw10;
    command.timeout_ms = head.timeOutValue * kMillisecondsPerSecond;
    const std::uint32_t error = AdminCommand(fd, command);
    if (error) return error;
    head.returnStatus = kProtocolStatusSuccess;
    head.fixedProtocolReturnData = command.result;
    std::memcpy(out, &head, sizeof head);
    returned = sizeof head;
    return 0;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
