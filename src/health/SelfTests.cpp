#include <Ovra/ResultCodes.h>
#include "src/ata/AtaCommands.h"
#include "src/ata/AtaPages.h"
#include "src/health/HealthReaders.h"
#include "src/health/NvmeCommands.h"
#include "src/health/NvmePages.h"

#include <string>
#include <vector>

namespace Ovra {
namespace health {

namespace {

int Refused(std::wstring& reason, int code, const std::wstring& text) {
    reason = text;
    return code;
}

std::wstring Running(int percentRemaining) {
    return L"a self-test is running (" + std::to_wstring(percentRemaining) + L"% remaining)";
}

std::wstring CannotRun(const std::wstring& name, int kind) {
    return name + L" cannot run " +
           (kind == DiskSelfTest::Conveyance ? L"conveyance self-tests" : L"self-tests");
}

// The drive tells through its SMART data whether it can run the test and whether one runs.
int AtaSelfTest(ata::DiskDevice& device, const std::wstring& name, int kind, bool abort,
                std::wstring& reason) {
    ata::DataReply data;
    if (!ata::ReadSmartPage(device, platform::kReadAttributes, data))
        return Refused(reason, result::kSystemFailed, L"SMART READ DATA failed");
    if (!ata::PageChecksumOk(data.bBuffer.data(), ata::kPageSize))
        return Refused(reason, result::kBadChecksum,
                       L"the SMART attribute page failed its checksum");
    const ata::SelfTestStatus status = ata::ReadSelfTestStatus(data.bBuffer.data(), ata::kPageSize);
    if (!status.canSelfTest || (kind == DiskSelfTest::Conveyance && !status.canConveyance))
        return Refused(reason, result::kNoSmart, CannotRun(name, kind));
    if (abort && status.percentRemaining < 0) return result::kOk;
    if (!abort && status.percentRemaining >= 0)
        return Refused(reason, result::kSelfTestRunning, Running(status.percentRemaining));
    const auto subcommand = static_cast<std::uint8_t>(abort ? ata::kAbortSelfTest : kind);
    if (!ata::SendSmart(device, platform::kExecuteOfflineImmediate, subcommand))
        return Refused(reason, result::kSystemFailed, L"SMART EXECUTE OFF-LINE IMMEDIATE failed");
    return result::kOk;
}

// The controller tells through Identify whether it runs self-tests, and through the Device
// Self-test log whether one runs.
int NvmeSelfTest(ata::DiskDevice& device, const std::wstring& name, int kind, bool abort,
                 std::wstring& reason) {
    std::vector<std::uint8_t> data;
    const Answer identify =
        QueryNvme(device, kNvmeDataTypeIdentify, kNvmeIdentifyController, kNvmeIdentifySize, data);
    if (identify == Answer::Refused)
        return Refused(reason, result::kNoSmart,
                       name + L" answers neither SMART commands nor NVMe queries");
    if (identify == Answer::Malformed)
        return Refused(reason, result::kSystemFailed,
                       L"the NVMe Identify Controller answer is malformed");
    if (!NvmeCanSelfTest(data.data(), data.size()) || kind == DiskSelfTest::Conveyance)
        return Refused(reason, result::kNoSmart, CannotRun(name, kind));
    if (QueryNvme(device, kNvmeDataTypeLogPage, kNvmeLogSelfTest, kNvmeSelfTestLogSize, data) !=
        Answer::Data)
        return Refused(reason, result::kSystemFailed, L"the NVMe self-test log request failed");
    const int remaining = NvmeSelfTestRemaining(data.data(), data.size());
    if (abort && remaining < 0) return result::kOk;
    if (!abort && remaining >= 0)
        return Refused(reason, result::kSelfTestRunning, Running(remaining));
    const auto code = static_cast<std::uint32_t>(abort ? kNvmeAbortSelfTest : kind);
    if (!NvmeDeviceSelfTest(device, code))
        return Refused(reason, result::kSystemFailed, L"the NVMe Device Self-test command failed");
    return result::kOk;
}

}  // namespace

int RunSelfTestCommand(long long disk, int kind, bool abort, std::wstring& reason) {
    reason.clear();
    const std::wstring name = L"disk " + std::to_wstring(disk);
    if (disk < 0) return Refused(reason, result::kNotFound, L"no " + name);
    if (!abort && (kind < DiskSelfTest::Short || kind > DiskSelfTest::Conveyance))
        return Refused(reason, result::kNoSmart, L"no self-test of kind " + std::to_wstring(kind));
    ata::DiskDevice device(platform::PhysicalDrivePath(static_cast<unsigned long long>(disk)),
                           disk);
    if (!device.IsOpen()) return Refused(reason, result::kNotFound, name + L" cannot be opened");
    return UsesAta(device) ? AtaSelfTest(device, name, kind, abort, reason)
                           : NvmeSelfTest(device, name, kind, abort, reason);
}

}  // namespace health
}  // namespace Ovra
