#pragma once

#include <Ovra/Export.h>

#include <string>
#include <vector>

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of exported records
#endif

namespace Ovra {

// A counter or reading the disk did not report.
const long long kHealthAbsent = -1;
// Above this temperature (°C) a disk is judged Warning unless the caller sets another limit.
const int kDefaultTemperatureLimit = 60;

// One entry of an ATA SMART attribute page with the threshold of the same id. Only entries the
// drive fills (id not 0) are reported, so an absent attribute never looks like a zero one.
struct DiskHealthAttribute {
    int id = 0;
    std::wstring name;          // SmartAttributeName(id)
    int value = 0;              // current normalised value
    int worst = 0;              // worst value recorded by the drive
    int threshold = 0;          // 0: the drive sets no threshold
    long long raw = 0;          // the 48-bit raw value
    int flags = 0;              // status-flags word
    bool preFailure = false;    // flags bit 0: crossing the threshold predicts failure
    bool failingNow = false;    // value at or below a nonzero threshold
    bool failedInPast = false;  // worst at or below a nonzero threshold
};

// The NVMe SMART / Health Information log (page 02h). The 128-bit counters keep their low 64
// bits and saturate at the largest 64-bit value when higher.
struct NvmeHealthLog {
    int criticalWarning = 0;    // bit 0 spare, 1 temperature, 2 reliability, 3 read-only,
                                // 4 volatile backup
    int temperatureKelvin = 0;  // composite temperature
    int availableSpare = 0;     // percent
    int spareThreshold = 0;     // percent
    int percentageUsed = 0;     // of the rated endurance; may exceed 100
    unsigned long long dataUnitsRead = 0;  // thousands of 512-byte units
    unsigned long long dataUnitsWritten = 0;
    unsigned long long powerCycles = 0;
    unsigned long long powerOnHours = 0;
    unsigned long long unsafeShutdowns = 0;
    unsigned long long mediaErrors = 0;
};

// One entry of a disk's self-test log, or the test that is running. ATA kinds and results keep
// the numbers of the ATA self-test log; NVMe results are mapped onto the nearest of them.
struct DiskSelfTest {
    enum Kind { Offline = 0, Short = 1, Extended = 2, Conveyance = 3 };
    enum Result {
        Passed = 0,
        Aborted = 1,      // by the host
        Interrupted = 2,  // by a reset
        Fatal = 3,
        UnknownFailure = 4,
        ElectricalFailure = 5,
        ServoFailure = 6,
        ReadFailure = 7,
        HandlingDamage = 8,
        InProgress = 15
    };
    Kind kind = Offline;
    Result result = Passed;
    long long powerOnHours = kHealthAbsent;  // when the test ended
    long long failingLba = kHealthAbsent;    // the first failing LBA; absent: none
};

// What ReadDiskHealth learnt about one disk and what it concludes.
struct DiskHealth {
    enum Kind { NoKind = 0, Ata = 1, Nvme = 2 };
    enum Assessment { NotAssessed = 0, Passed = 1, Failed = 2 };  // the drive's own verdict
    enum Verdict { Unknown = 0, Good = 1, Warning = 2, Failing = 3 };

    Kind kind = NoKind;
    std::wstring model;  // blanks trimmed
    std::wstring serial;
    std::wstring firmware;

    // ATA only: every filled entry of the attribute page, in page order.
    std::vector<DiskHealthAttribute> attributes;
    Assessment selfAssessment = NotAssessed;  // ATA SMART RETURN STATUS

    bool hasTemperature = false;
    int temperature = 0;                     // °C: ATA attribute 194, else 190; NVMe composite
    long long powerOnHours = kHealthAbsent;  // ATA attribute 9; NVMe log
    // Raw values of ATA attributes 5, 187, 188, 197 and 198; kHealthAbsent when not on the page.
    long long reallocatedSectors = kHealthAbsent;
    long long reportedUncorrectable = kHealthAbsent;
    long long commandTimeouts = kHealthAbsent;
    long long pendingSectors = kHealthAbsent;
    long long offlineUncorrectable = kHealthAbsent;

    bool hasNvmeLog = false;
    NvmeHealthLog nvme;

    // The device's logs. ATA: the SMART self-test log and summary error log; NVMe: the Device
    // Self-test log and the Error Information log.
    bool canSelfTest = false;              // the disk runs self-tests on request
    std::vector<DiskSelfTest> selfTests;   // completed and aborted tests, newest first
    int selfTestInProgress = -1;           // percent remaining of the running test; -1 none
    long long errorLogCount = kHealthAbsent;  // errors the device logged (ATA count; NVMe entries)

    Verdict verdict = Unknown;
    // Why the verdict is not Good: one text per finding; for Unknown, why nothing could be read.
    std::vector<std::wstring> reasons;
};

// Reads the health of physical disk `disk` (\\.\PHYSICALDRIVEn) and judges it. `health` is
// replaced as a whole; on failure it holds the verdict Unknown with the reason, and what was
// learnt before the failure.
//
// NVMe or ATA: a disk whose storage descriptor names the NVMe bus is read through the NVMe
// protocol-specific queries; any other disk through the SMART requests, and when its driver does
// not take SMART commands, through the NVMe queries after all (NVMe behind RAID drivers, systems
// whose descriptor omits the bus). Nothing is written to the disk: SMART is not switched on.
//
// The verdict: Failing when the drive assesses itself failing, a pre-failure attribute is at or
// below its threshold, an NVMe critical warning names spare, reliability or read-only media, or
// the newest completed self-test failed (the reason names its result and first failing LBA).
// Warning when the device's error log holds errors (the reason gives the count), reallocated, pending or offline-uncorrectable sectors, reported uncorrectable
// errors or command timeouts are above zero, an attribute was at or below its threshold (now, for
// one that is not pre-failure, or in the past), the temperature is above `temperatureLimit`, the
// NVMe log reports its temperature or backup warning, media errors, 90 percent or more used, or
// spare below its threshold. Good otherwise.
//
// Results: 0 read and judged; 121 no such disk; 127 neither SMART nor NVMe health data; 105 a
// request failed or its answer was malformed; 139 a 512-byte page failed its checksum (it is not
// read as data); 102 out of memory.
OVRA_PLATFORM_MISC_API int ReadDiskHealth(long long disk, DiskHealth& health,
                                          int temperatureLimit = kDefaultTemperatureLimit);

// Starts a self-test of `kind` (Short, Extended or Conveyance) on physical disk `disk`, in the
// background on the drive (ATA off-line mode; NVMe Device Self-test on every namespace), or, with
// AbortDiskSelfTest, stops the one that runs. `reason` says why when the result is not 0.
// Results: 0 started (or aborted, or none ran); 121 no such disk; 127 the disk cannot run tests
// (or this kind); 140 a test is already running (it is left alone: abort it first); 105 a request
// failed; 139 the SMART data page failed its checksum; 102 out of memory.
OVRA_PLATFORM_MISC_API int StartDiskSelfTest(long long disk, int kind, std::wstring& reason);
OVRA_PLATFORM_MISC_API int AbortDiskSelfTest(long long disk, std::wstring& reason);

// The words of a self-test kind ("offline", "short", "extended", "conveyance") and result
// ("passed", "aborted", "interrupted", "fatal", "unknown failure", "electrical failure", "servo
// failure", "read failure", "handling damage", "in progress"); "unknown" for other numbers.
OVRA_PLATFORM_MISC_API const wchar_t* DiskSelfTestKindName(int kind);
OVRA_PLATFORM_MISC_API const wchar_t* DiskSelfTestResultName(int result);

// The usual name of ATA SMART attribute `id`; "Unknown attribute" for an id without one.
OVRA_PLATFORM_MISC_API const wchar_t* SmartAttributeName(int id);

// The word for a verdict: "Unknown", "Good", "Warning", "Failing".
OVRA_PLATFORM_MISC_API const wchar_t* DiskHealthVerdictName(int verdict);

}  // namespace Ovra

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
