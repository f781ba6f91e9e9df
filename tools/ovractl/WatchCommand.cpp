#include "WatchCommand.h"

#include "HealthJson.h"
#include "HealthLog.h"
#include "Output.h"
#include "ShellCommand.h"
#include "ValueText.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/DiskHealthWatch.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <memory>
#include <mutex>

namespace ovractl {

using Ovra::DiskHealthEvent;
using Ovra::DiskHealthWatch;

namespace {

struct WatchOptions {
    std::vector<long long> disks;
    long long intervalSeconds = 0;  // 0: the watch's own
    long long cycles = 0;           // 0: until a signal
    std::string schedule;
    std::vector<int> temperature;  // warning, critical
    std::string logPath;
    std::string exec;
    bool json = false;
    bool testEvent = false;
};

// A hook that hangs holds up the watch no longer than this.
const int kExecTimeoutMs = 30000;

volatile std::sig_atomic_t g_signalled = 0;

void OnSignal(int) {
    g_signalled = 1;
}

std::string EventLine(const DiskHealthEvent& e) {
    std::string line = UtcTimeText(e.time) + " disk " + std::to_string(e.disk) + " " +
                       Utf8(Ovra::DiskHealthEventName(e.type));
    if (!e.from.empty() || !e.to.empty()) line += " " + Utf8(e.from) + " -> " + Utf8(e.to);
    if (!e.detail.empty()) line += " " + Utf8(e.detail);
    return line;
}

Environment EventEnvironment(const DiskHealthEvent& e) {
    return {{"OVRA_EVENT", Utf8(Ovra::DiskHealthEventName(e.type))},
            {"OVRA_DISK", std::to_string(e.disk)},
            {"OVRA_FROM", Utf8(e.from)},
            {"OVRA_TO", Utf8(e.to)},
            {"OVRA_DETAIL", Utf8(e.detail)},
            {"OVRA_TIME", std::to_string(e.time)}};
}

// Prints, records and hands on every event, records every poll's readings, and tells when the
// wanted number of polls is done. The watch calls it on one thread at a time.
class WatchSink : public Ovra::DiskHealthWatchObserver {
public:
    WatchSink(const WatchOptions& options, HealthLog* log) : m_options(options), m_log(log) {}

    void OnDiskHealthEvent(DiskHealthWatch*, const DiskHealthEvent& event) override {
        const nlohmann::json json = WatchEventJson(event);
        std::cout << (m_options.json ? json.dump() : EventLine(event)) << std::endl;
        if (m_log) {
            if (int rc = m_log->RecordEvent(event))
                Fail("cannot record the event in " + m_options.logPath, LibraryCodeText(rc), rc);
        }
        std::string error;
        if (!m_options.exec.empty() && !RunShellCommand(m_options.exec, EventEnvironment(event),
                                                        json.dump() + "\n", kExecTimeoutMs, error))
            std::cerr << "ovractl: --exec " << m_options.exec << ": " << error << std::endl;
    }

    void OnDiskHealthPoll(DiskHealthWatch* watch, long long poll) override {
        if (m_log) {
            const long long now = Ovra::GetCurTime();
            for (const auto& reading : watch->GetReadings()) {
                if (int rc = m_log->Record(now, reading.first, reading.second))
                    Fail("cannot record the readings in " + m_options.logPath, LibraryCodeText(rc),
                         rc);
            }
        }
        if (m_options.cycles > 0 && poll >= m_options.cycles) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
            m_wake.notify_all();
        }
    }

    void WaitUntilDoneOrSignalled() {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A signal handler cannot notify a condition: its flag is looked at four times a second.
        while (!m_done && !g_signalled) m_wake.wait_for(lock, std::chrono::milliseconds(250));
    }

private:
    const WatchOptions& m_options;
    HealthLog* m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
};

int CmdWatch(const WatchOptions& o) {
    std::unique_ptr<HealthLog> log;
    std::unique_ptr<WatchSink> sink;
    // Declared last, so destroyed first: its worker ends before the sink and the log go.
    DiskHealthWatch watch;
    if (int rc = watch.SetSelfTestSchedule(Wide(o.schedule)))
        return Fail("bad self-test schedule", o.schedule, rc);
    if (!o.logPath.empty()) {
        log.reset(new HealthLog);
        if (int rc = log->Open(Wide(o.logPath)))
            return Fail("cannot open " + o.logPath, LibraryCodeText(rc), rc);
    }
    sink.reset(new WatchSink(o, log.get()));
    watch.SetDisks(o.disks);
    if (o.intervalSeconds) watch.SetPollInterval(o.intervalSeconds * 1000);
    if (o.temperature.size() == 2) watch.SetTemperatureLimits(o.temperature[0], o.temperature[1]);
    watch.SetObserver(sink.get());
    if (o.testEvent) {
        watch.SendTestEvent();
        return 0;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    if (int rc = watch.Start()) return Fail("cannot start the watch", LibraryCodeText(rc), rc);
    if (!o.cycles) std::cerr << "watching; Ctrl-C stops\n";
    sink->WaitUntilDoneOrSignalled();
    watch.Stop();
    return 0;
}

}  // namespace

void AddWatchCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<WatchOptions>();
    CLI::App* watch = app.add_subcommand(
        "watch", "Watch disks: one line per change of health, self-tests on a schedule");
    watch->add_option("disk", options->disks, "Disk numbers (default: every disk that answers)")
        ->check(CLI::Range(0LL, 4294967295LL));
    watch
        ->add_option("--interval", options->intervalSeconds, "Seconds between polls (default 1800)")
        ->check(CLI::PositiveNumber);
    watch->add_option("--cycles", options->cycles, "Stop after this many polls")
        ->check(CLI::PositiveNumber);
    watch->add_option("--selftest", options->schedule,
                      "Self-tests as smartd -s: a regular expression over T/MM/DD/d/HH, e.g. "
                      "'(S/../.././02|L/../../6/03)'");
    watch
        ->add_option("--temperature", options->temperature,
                     "WARN,CRIT: \xC2\xB0"
                     "C limits, 0 turns one off")
        ->delimiter(',')
        ->expected(2)
        ->check(CLI::NonNegativeNumber);
    watch->add_option("--log", options->logPath,
                      "Record every reading and event in this log database (health history)");
    watch->add_option("--exec", options->exec,
                      "Run this shell command once per event, with OVRA_EVENT, OVRA_DISK, "
                      "OVRA_FROM, OVRA_TO, OVRA_DETAIL, OVRA_TIME set and the event as JSON on "
                      "its standard input; ended after 30 s");
    watch->add_flag("--json", options->json, "Print JSON lines");
    watch->add_flag("--test-event", options->testEvent,
                    "Send one test event through printing, --log and --exec, and exit");
    watch->footer(
        "Lines: time (UTC) disk event [from -> to] [detail]. Runs until SIGINT or SIGTERM\n"
        "(Ctrl-C) or --cycles; exit 141 for a schedule that is not a regular expression.");
    watch->callback([&exitCode, options] { exitCode = CmdWatch(*options); });
}

}  // namespace ovractl
