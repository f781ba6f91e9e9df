#include "SelfTestCommand.h"

#include "HealthCommands.h"
#include "Output.h"
#include "ValueText.h"

#include <Ovra/DiskHealth.h>
#include <Ovra/ResultCodes.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

namespace ovractl {

using Ovra::DiskHealth;
using Ovra::DiskSelfTest;

namespace {

struct SelfTestOptions {
    long long disk = -1;
    bool shortTest = false;
    bool extended = false;
    bool conveyance = false;
    bool abort = false;
    bool wait = false;
    int pollSeconds = 5;
};

// A drive may take a moment to report a test it accepted.
const int kPollsUntilRunning = 3;

std::string Disk(const SelfTestOptions& o) {
    return "disk " + std::to_string(o.disk);
}

std::string ReasonOr(const std::wstring& reason, int code) {
    return reason.empty() ? LibraryCodeText(code) : Utf8(reason);
}

bool Same(const DiskSelfTest& a, const DiskSelfTest& b) {
    return a.kind == b.kind && a.result == b.result && a.powerOnHours == b.powerOnHours &&
           a.failingLba == b.failingLba;
}

// The log holds a new entry once the test has ended: it grew, or its newest entry changed.
bool Logged(const DiskHealth& before, const DiskHealth& now) {
    if (now.selfTests.empty()) return false;
    return now.selfTests.size() > before.selfTests.size() || before.selfTests.empty() ||
           !Same(now.selfTests.front(), before.selfTests.front());
}

// Reads the disk until the test that was started has ended: 0 when it passed, else 2.
int WaitForResult(const SelfTestOptions& o, const DiskHealth& before) {
    int shown = -1;
    for (int poll = 0;; ++poll) {
        if (poll) std::this_thread::sleep_for(std::chrono::seconds(o.pollSeconds));
        DiskHealth now;
        if (int rc = Ovra::ReadDiskHealth(o.disk, now))
            return Fail("cannot read " + Disk(o),
                        ReasonOr(now.reasons.empty() ? L"" : now.reasons.front(), rc), rc);
        if (now.selfTestInProgress >= 0) {
            if (now.selfTestInProgress != shown)
                std::cout << Disk(o) << ": " << now.selfTestInProgress << "% remaining"
                          << std::endl;
            shown = now.selfTestInProgress;
            continue;
        }
        if (!Logged(before, now)) {
            if (shown < 0 && poll + 1 < kPollsUntilRunning) continue;
            return Fail(Disk(o) + " ended its test without logging a result", "",
                        Ovra::result::kSystemFailed);
        }
        const DiskSelfTest& test = now.selfTests.front();
        std::cout << Disk(o) << ": " << Utf8(Ovra::DiskSelfTestKindName(test.kind)) << " self-test "
                  << Utf8(Ovra::DiskSelfTestResultName(test.result));
        if (test.failingLba != Ovra::kHealthAbsent)
            std::cout << ", first failing LBA " << test.failingLba;
        std::cout << std::endl;
        return test.result == DiskSelfTest::Passed ? 0 : kHealthFailing;
    }
}

int CmdSelfTest(const SelfTestOptions& o) {
    std::wstring reason;
    if (o.abort) {
        if (int rc = Ovra::AbortDiskSelfTest(o.disk, reason))
            return Fail(Disk(o) + " did not abort its self-test", ReasonOr(reason, rc), rc);
        std::cout << Disk(o) << ": self-test aborted" << std::endl;
        return 0;
    }
    const int kind = o.shortTest  ? DiskSelfTest::Short
                     : o.extended ? DiskSelfTest::Extended
                                  : DiskSelfTest::Conveyance;
    const std::string name = Utf8(Ovra::DiskSelfTestKindName(kind));
    // The log before the start tells a new result from an old one.
    DiskHealth before;
    if (o.wait) Ovra::ReadDiskHealth(o.disk, before);
    if (int rc = Ovra::StartDiskSelfTest(o.disk, kind, reason))
        return Fail(Disk(o) + " refuses the " + name + " self-test", ReasonOr(reason, rc), rc);
    std::cout << Disk(o) << ": " << name << " self-test started" << std::endl;
    return o.wait ? WaitForResult(o, before) : 0;
}

}  // namespace

void AddSelfTestCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<SelfTestOptions>();
    CLI::App* selftest =
        app.add_subcommand("selftest", "Start or abort a disk's own self-test (SMART or NVMe)");
    selftest->add_option("disk", options->disk, "Disk number")
        ->required()
        ->check(CLI::Range(0LL, 4294967295LL));
    CLI::Option_group* test = selftest->add_option_group("test", "One of them");
    test->add_flag("--short", options->shortTest, "The short test (minutes)");
    test->add_flag("--extended", options->extended, "The extended test (hours)");
    test->add_flag("--conveyance", options->conveyance, "The conveyance test (ATA)");
    test->add_flag("--abort", options->abort, "Abort the test that runs");
    test->require_option(1);
    selftest->add_flag("--wait", options->wait,
                       "Show the percent remaining until the test ends, then its result");
    selftest->add_option("--poll", options->pollSeconds, "With --wait: seconds between reads")
        ->check(CLI::PositiveNumber);
    selftest->footer(
        "Exit status: 0 started (with --wait: passed), 2 the test failed; when the disk\n"
        "refuses, the library's code (121, 127, 140, 105) with the reason on stderr.\n"
        "Ctrl-C ends the waiting, not the test (see --abort).");
    selftest->callback([&exitCode, options] { exitCode = CmdSelfTest(*options); });
}

}  // namespace ovractl
