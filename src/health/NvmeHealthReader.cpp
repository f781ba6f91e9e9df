#include <Ovra/ResultCodes.h>
#include "src/health/HealthReaders.h"
#include "src/health/NvmeCommands.h"
#include "src/health/NvmePages.h"

#include <vector>

namespace Ovra {
namespace health {

namespace {

int Failed(DiskHealth& health, const wchar_t* reason) {
    health.reasons.push_back(reason);
    return result::kSystemFailed;
}

}  // namespace

int ReadNvmeHealth(ata::DiskDevice& device, DiskHealth& health) {
    std::vector<std::uint8_t> identify;
    const Answer controller = QueryNvme(device, kNvmeDataTypeIdentify, kNvmeIdentifyController,
                                        kNvmeIdentifySize, identify);
    if (controller == Answer::Refused) return result::kNoSmart;
    health.kind = DiskHealth::Nvme;
    if (controller == Answer::Malformed)
        return Failed(health, L"the NVMe Identify Controller answer is malformed");
    ReadNvmeIdentity(identify.data(), identify.size(), health);
    health.canSelfTest = NvmeCanSelfTest(identify.data(), identify.size());

    std::vector<std::uint8_t> data;
    const Answer log =
        QueryNvme(device, kNvmeDataTypeLogPage, kNvmeLogHealth, kNvmeHealthLogSize, data);
    if (log == Answer::Refused) return Failed(health, L"the NVMe health log request failed");
    if (log == Answer::Malformed) return Failed(health, L"the NVMe health log answer is malformed");
    health.nvme = ReadNvmeHealthLog(data.data(), data.size());
    health.hasNvmeLog = true;

    const Answer selfTests =
        health.canSelfTest
            ? QueryNvme(device, kNvmeDataTypeLogPage, kNvmeLogSelfTest, kNvmeSelfTestLogSize, data)
            : Answer::Refused;
    if (selfTests == Answer::Malformed)
        return Failed(health, L"the NVMe self-test log answer is malformed");
    if (selfTests == Answer::Data) {
        health.selfTestInProgress = NvmeSelfTestRemaining(data.data(), data.size());
        health.selfTests = ReadNvmeSelfTests(data.data(), data.size());
    }

    const std::uint32_t entries = NvmeErrorLogEntries(identify.data(), identify.size());
    const Answer errors = QueryNvme(device, kNvmeDataTypeLogPage, kNvmeLogErrors,
                                    entries * kNvmeErrorEntrySize, data);
    if (errors == Answer::Malformed)
        return Failed(health, L"the NVMe error log answer is malformed");
    if (errors == Answer::Data) health.errorLogCount = CountNvmeErrors(data.data(), data.size());
    return result::kOk;
}

}  // namespace health
}  // namespace Ovra
