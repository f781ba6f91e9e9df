#include "src/health/NvmeCommands.h"

#include <cstddef>
#include <cstring>

namespace Ovra {
namespace health {

namespace {

using platform::StorageProtocolSpecificData;

const std::uint32_t kSelfTestTimeoutSeconds = 10;  // the test runs on; only its start is waited for

// STORAGE_PROPERTY_QUERY up to AdditionalParameters, which holds the protocol request.
struct ProtocolQuery {
    std::uint32_t propertyId;
    std::uint32_t queryType;  // PropertyStandardQuery
    StorageProtocolSpecificData protocol;
};
static_assert(sizeof(ProtocolQuery) == 48, "protocol property query layout");

// STORAGE_PROTOCOL_DATA_DESCRIPTOR; the data follows at protocol.protocolDataOffset.
struct ProtocolDataDescriptor {
    std::uint32_t version;  // sizeof(ProtocolDataDescriptor)
    std::uint32_t size;
    StorageProtocolSpecificData protocol;
};
static_assert(sizeof(ProtocolDataDescriptor) == 48, "STORAGE_PROTOCOL_DATA_DESCRIPTOR layout");
const std::size_t kProtocolDataStart = offsetof(ProtocolDataDescriptor, protocol);

// The request and the command it carries, in one buffer as the driver expects them.
struct ProtocolCommandBuffer {
    platform::StorageProtocolCommand head;
    platform::NvmeCommand command;
};
static_assert(sizeof(ProtocolCommandBuffer) == 144, "protocol command buffer layout");

// The reply must be the data descriptor with the data where it says, as long as asked.
Answer QueryProtocolData(ata::DiskDevice& device, std::uint32_t propertyId, std::uint32_t dataType,
                         std::uint32_t value, std::uint32_t length,
                         std::vector<std::uint8_t>& data) {
    ProtocolQuery query;
    std::memset(&query, 0, sizeof query);
    query.propertyId = propertyId;
    query.protocol.protocolType = platform::kProtocolTypeNvme;
    query.protocol.dataType = dataType;
    query.protocol.protocolDataRequestValue = value;
    query.protocol.protocolDataOffset = sizeof(StorageProtocolSpecificData);
    query.protocol.protocolDataLength = length;

    std::vector<std::uint8_t> buffer(sizeof query + length, 0);
    std::memcpy(buffer.data(), &query, sizeof query);
    const auto size = static_cast<std::uint32_t>(buffer.size());
    if (!device.Control(platform::kIoctlStorageQueryProperty, buffer.data(), size, buffer.data(),
                        size))
        return Answer::Refused;

    ProtocolDataDescriptor reply;
    std::memcpy(&reply, buffer.data(), sizeof reply);
    const std::size_t offset = reply.protocol.protocolDataOffset;
    if (reply.version != sizeof reply || reply.size != sizeof reply ||
        offset < sizeof(StorageProtocolSpecificData) ||
        reply.protocol.protocolDataLength < length ||
        kProtocolDataStart + offset + length > buffer.size()) {
        return Answer::Malformed;
    }
    const std::uint8_t* start = buffer.data() + kProtocolDataStart + offset;
    data.assign(start, start + length);
    return Answer::Data;
}

}  // namespace

Answer QueryNvme(ata::DiskDevice& device, std::uint32_t dataType, std::uint32_t value,
                 std::uint32_t length, std::vector<std::uint8_t>& data) {
    const Answer answer = QueryProtocolData(
        device, platform::kStorageDeviceProtocolSpecificProperty, dataType, value, length, data);
    if (answer != Answer::Refused) return answer;
    return QueryProtocolData(device, platform::kStorageAdapterProtocolSpecificProperty, dataType,
                             value, length, data);
}

bool NvmeDeviceSelfTest(ata::DiskDevice& device, std::uint32_t code) {
    ProtocolCommandBuffer request;
    std::memset(&request, 0, sizeof request);
    platform::StorageProtocolCommand& head = request.head;
    head.version = platform::kProtocolCommandVersion;
    head.length = platform::kProtocolCommandLength;
    head.protocolType = platform::kProtocolTypeNvme;
    head.flags = platform::kProtocolCommandFlagAdapterRequest;
    head.commandLength = platform::kNvmeCommandSize;
    head.timeOutValue = kSelfTestTimeoutSeconds;
    head.commandSpecific = platform::kProtocolSpecificNvmeAdminCommand;
    request.command.opcode = platform::kNvmeAdminDeviceSelfTest;
    request.command.nsid = platform::kNvmeAllNamespaces;
    request.command.cdw10 = code;
    return device.Control(platform::kIoctlStorageProtocolCommand, &request, sizeof request,
                          &request, sizeof request) &&
           request.head.returnStatus == platform::kProtocolStatusSuccess;
}

}  // namespace health
}  // namespace Ovra
