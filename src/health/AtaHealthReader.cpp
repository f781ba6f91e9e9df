#include <Ovra/ResultCodes.h>
#include "src/ata/AtaCommands.h"
#include "src/ata/AtaPages.h"
#include "src/health/HealthReaders.h"

namespace Ovra {
namespace health {

namespace {

using ata::kPageSize;

int Failed(DiskHealth& health, int code, const wchar_t* reason) {
    health.reasons.push_back(reason);
    return code;
}

const std::uint8_t* Bytes(const ata::DataReply& reply) {
    return reply.bBuffer.data();
}

enum class Log { Read, Refused, Corrupt };

Log ReadLog(ata::DiskDevice& device, std::uint8_t address, ata::DataReply& reply) {
    if (!ata::ReadSmartPage(device, platform::kReadLog, reply, address)) return Log::Refused;
    return ata::PageChecksumOk(Bytes(reply), kPageSize) ? Log::Read : Log::Corrupt;
}

int ReadLogs(ata::DiskDevice& device, bool logsErrors, DiskHealth& health) {
    ata::DataReply log;
    const Log selfTests =
        health.canSelfTest ? ReadLog(device, ata::kSelfTestLog, log) : Log::Refused;
    if (selfTests == Log::Corrupt)
        return Failed(health, result::kBadChecksum, L"the SMART self-test log failed its checksum");
    if (selfTests == Log::Read) health.selfTests = ata::ReadSelfTestLog(Bytes(log), kPageSize);

    const Log errors = logsErrors ? ReadLog(device, ata::kSummaryErrorLog, log) : Log::Refused;
    if (errors == Log::Corrupt)
        return Failed(health, result::kBadChecksum, L"the SMART error log failed its checksum");
    if (errors == Log::Read) health.errorLogCount = ata::ReadErrorCount(Bytes(log), kPageSize);
    return result::kOk;
}

}  // namespace

int ReadAtaHealth(ata::DiskDevice& device, DiskHealth& health) {
    health.kind = DiskHealth::Ata;
    ata::DataReply identify;
    if (!ata::IdentifyDevice(device, identify))
        return Failed(health, result::kSystemFailed, L"IDENTIFY DEVICE failed");
    if (!ata::IdentifyChecksumOk(Bytes(identify), kPageSize))
        return Failed(health, result::kBadChecksum, L"IDENTIFY DEVICE data failed its checksum");
    ata::ReadIdentity(Bytes(identify), kPageSize, health);

    if (!ata::ReturnStatus(device, health.selfAssessment))
        return Failed(health, result::kSystemFailed, L"SMART RETURN STATUS failed");

    ata::DataReply data;
    ata::DataReply thresholds;
    if (!ata::ReadSmartPage(device, platform::kReadAttributes, data))
        return Failed(health, result::kSystemFailed, L"SMART READ DATA failed");
    if (!ata::PageChecksumOk(Bytes(data), kPageSize))
        return Failed(health, result::kBadChecksum,
                      L"the SMART attribute page failed its checksum");
    if (!ata::ReadSmartPage(device, platform::kReadThresholds, thresholds))
        return Failed(health, result::kSystemFailed, L"SMART READ THRESHOLDS failed");
    if (!ata::PageChecksumOk(Bytes(thresholds), kPageSize))
        return Failed(health, result::kBadChecksum,
                      L"the SMART threshold page failed its checksum");
    health.attributes = ata::ReadAttributes(Bytes(data), kPageSize, Bytes(thresholds), kPageSize);

    const ata::SelfTestStatus status = ata::ReadSelfTestStatus(Bytes(data), kPageSize);
    health.canSelfTest = status.canSelfTest;
    health.selfTestInProgress = status.percentRemaining;
    return ReadLogs(device, status.logsErrors, health);
}

}  // namespace health
}  // namespace Ovra
