#include <Ovra/ResultCodes.h>
#include "src/health/HealthIoctl.h"
#include "src/health/HealthReaders.h"
#include "src/health/NvmePages.h"

#include <cstring>
#include <vector>

namespace Ovra {
namespace health {

namespace {

enum class Answer { Data, Refused, Malformed };

// Asks for `length` bytes of NVMe data of `dataType`/`value`; the reply is the data descriptor
// followed by the data, which must lie where the descriptor says and be as long as asked.
Answer QueryProtocolData(platform::DeviceHandle& device, std::uint32_t propertyId,
                         std::uint32_t dataType, std::uint32_t value, std::uint32_t length,
                         std::vector<std::uint8_t>& data) {
    ProtocolQuery query;
    std::memset(&query, 0, sizeof query);
    query.propertyId = propertyId;
    query.protocol.protocolType = kProtocolTypeNvme;
    query.protocol.dataType = dataType;
    query.protocol.protocolDataRequestValue = value;
    query.protocol.protocolDataOffset = sizeof(StorageProtocolSpecificData);
    query.protocol.protocolDataLength = length;

    std::vector<std::uint8_t> buffer(sizeof query + length, 0);
    std::memcpy(buffer.data(), &query, sizeof query);
    const auto size = static_cast<std::uint32_t>(buffer.size());
    if (!device.Control(kIoctlStorageQueryProperty, buffer.data(), size, buffer.data(), size))
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

// The device's property first, then the adapter's, which some drivers answer instead.
Answer QueryNvme(platform::DeviceHandle& device, std::uint32_t dataType, std::uint32_t value,
                 std::uint32_t length, std::vector<std::uint8_t>& data) {
    const Answer answer = QueryProtocolData(device, kStorageDeviceProtocolSpecificProperty,
                                            dataType, value, length, data);
    if (answer != Answer::Refused) return answer;
    return QueryProtocolData(device, kStorageAdapterProtocolSpecificProperty, dataType, value,
                             length, data);
}

int Failed(DiskHealth& health, const wchar_t* reason) {
    health.reasons.push_back(reason);
    return result::kSystemFailed;
}

}  // namespace

int ReadNvmeHealth(platform::DeviceHandle& device, DiskHealth& health) {
    std::vector<std::uint8_t> data;
    const Answer identify =
        QueryNvme(device, kNvmeDataTypeIdentify, kNvmeIdentifyController, kNvmeIdentifySize, data);
    if (identify == Answer::Refused) return result::kNoSmart;
    health.kind = DiskHealth::Nvme;
    if (identify == Answer::Malformed)
        return Failed(health, L"the NVMe Identify Controller answer is malformed");
    ReadNvmeIdentity(data.data(), health);

    const Answer log =
        QueryNvme(device, kNvmeDataTypeLogPage, kNvmeLogHealth, kNvmeHealthLogSize, data);
    if (log == Answer::Refused) return Failed(health, L"the NVMe health log request failed");
    if (log == Answer::Malformed) return Failed(health, L"the NVMe health log answer is malformed");
    health.nvme = ReadNvmeHealthLog(data.data());
    health.hasNvmeLog = true;
    return result::kOk;
}

}  // namespace health
}  // namespace Ovra
