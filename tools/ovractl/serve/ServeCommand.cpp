#include "ServeCommand.h"

#include "../Output.h"
#include "../ValueText.h"
#include "Collectors.h"
#include "EventRing.h"
#include "Exposition.h"
#include "HttpServer.h"
#include "Site.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/DiskHealthWatch.h>
#include <Ovra/TimeSyncService.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <signal.h>
#endif

namespace ovractl {

namespace {

const char kVersion[] = OVRACTL_VERSION;

struct ServeOptions {
    std::string listen = "127.0.0.1:9469";
    long long intervalSeconds = 1800;
    std::string selfTests;
    std::string textfileDir;
    CollectorOptions collect;
};

// Keeps the watch's events for the pages, records every poll in the health log, and lets a
// caller wait for a number of polls.
class WatchListener : public Ovra::DiskHealthWatchObserver {
public:
    WatchListener(EventRing& events, Collectors* recorder)
        : m_events(events), m_recorder(recorder) {}
    void OnDiskHealthEvent(Ovra::DiskHealthWatch*, const Ovra::DiskHealthEvent& event) override {
        m_events.Add(event);
    }
    void OnDiskHealthPoll(Ovra::DiskHealthWatch* watch, long long poll) override {
        if (m_recorder) {
            if (int rc = m_recorder->RecordPoll(Ovra::GetCurTime(), watch->GetReadings()))
                Fail("cannot record the poll", LibraryCodeText(rc), rc);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_polls = poll;
        m_polled.notify_all();
    }
    void WaitForPoll(long long poll) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_polled.wait(lock, [&] { return m_polls >= poll; });
    }

private:
    EventRing& m_events;
    Collectors* m_recorder;
    std::mutex m_mutex;
    std::condition_variable m_polled;
    long long m_polls = 0;
};

#if defined(_WIN32)
std::atomic<HttpServer*> g_running{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
    HttpServer* server = g_running.load();
    if (server) server->Stop();
    return server ? TRUE : FALSE;
}

void RunUntilInterrupted(HttpServer& server) {
    g_running = &server;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    server.Run();
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_running = nullptr;
}
#else
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Expects SIGINT and SIGTERM blocked in every thread (BlockStopSignals before any starts): one
// thread takes them with sigwait, so no handler runs in the middle of a server call.
void RunUntilInterrupted(HttpServer& server) {
    std::atomic<bool> signalled{false};
    std::thread waiter([&] {
        const sigset_t set = StopSignals();
        int signal = 0;
        sigwait(&set, &signal);
        signalled = true;
        server.Stop();
    });
    server.Run();
    if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
}
#endif

void BlockStopSignals() {
#if !defined(_WIN32)
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif
}

int RunServe(const ServeOptions& o) {
    BlockStopSignals();
    EventRing events;
    Ovra::DiskHealthWatch watch;
    Collectors collectors(o.collect, [&watch] { return watch.GetReadings(); });
    const std::string unopened = collectors.Open();
    if (!unopened.empty()) return Fail("cannot serve", unopened, kNoInput);
    watch.SetPollInterval(o.intervalSeconds * 1000);
    if (watch.SetSelfTestSchedule(Wide(o.selfTests)) != 0)
        return Fail("cannot use --selftest", "not an extended regular expression", kUsage);
    WatchListener listener(events, o.collect.healthLog.empty() ? nullptr : &collectors);
    watch.SetObserver(&listener);

    const Site site([&collectors](unsigned parts) { return collectors.Collect(parts); }, events,
                    kVersion);
    HttpServer server([&site](const std::string& method, const std::string& target) {
        return site.Answer(method, target);
    });
    const std::string refused = server.Listen(o.listen);
    if (!refused.empty()) return Fail("cannot serve", refused, kUnavailable);
    if (int rc = watch.Start()) return Fail("cannot start the disk watch", LibraryCodeText(rc), rc);
    std::cout << "listening on http://" << server.Address() << "/" << std::endl;
    RunUntilInterrupted(server);
    watch.SetObserver(nullptr);
    watch.Stop();
    std::cerr << "ovractl serve: stopped\n";
    return 0;
}

int WriteTextfile(const std::string& dir, const std::string& text) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::u8path(dir);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return Fail("no folder " + dir, "--textfile", kNoInput);
    // The collector reads *.prom: it never sees the half-written file, only the rename.
    const fs::path temporary = folder / ".ovra.prom.tmp", final = folder / "ovra.prom";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return Fail("cannot write " + Utf8(temporary.wstring()), "", 1);
    }
    fs::rename(temporary, final, ec);
    if (ec) return Fail("cannot rename to " + Utf8(final.wstring()), ec.message(), 1);
    return 0;
}

int RunMetrics(const ServeOptions& o) {
    EventRing unused;
    Ovra::DiskHealthWatch watch;
    WatchListener listener(unused, nullptr);
    watch.SetObserver(&listener);
    if (int rc = watch.Start()) return Fail("cannot start the disk watch", LibraryCodeText(rc), rc);
    listener.WaitForPoll(1);
    const std::map<long long, Ovra::DiskHealth> readings = watch.GetReadings();
    watch.SetObserver(nullptr);
    watch.Stop();
    Collectors collectors(o.collect, [&readings] { return readings; });
    const std::string unopened = collectors.Open();
    if (!unopened.empty()) return Fail("cannot read", unopened, kNoInput);
    const std::string text =
        BuildExposition(collectors.Collect(kDisks | kVolumes | kTime | kLogs), kVersion);
    if (o.textfileDir.empty()) {
        std::cout << text << std::flush;
        return 0;
    }
    return WriteTextfile(o.textfileDir, text);
}

void AddSourceOptions(CLI::App* command, ServeOptions& o) {
    command->add_option("--log", o.collect.logs, "A log database whose figures are served");
    command
        ->add_option("--time-server", o.collect.timeServer,
                     "Checked at most once a minute for the clock offset")
        ->capture_default_str();
}

}  // namespace

void AddServeCommands(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<ServeOptions>();
    std::list<std::wstring> servers;
    Ovra::TimeSyncService().GetScheduleTimeServer(servers);
    if (!servers.empty()) options->collect.timeServer = Utf8(servers.front());

    CLI::App* serve = app.add_subcommand(
        "serve",
        "Watch the disks and serve /metrics, a status page and JSON over HTTP (read-only)");
    serve->add_option("--listen", options->listen, "ADDRESS:PORT")->capture_default_str();
    serve->add_option("--interval", options->intervalSeconds, "Seconds between disk polls")
        ->capture_default_str()
        ->check(CLI::Range(1LL, 31LL * 24 * 3600));
    serve->add_option("--selftest", options->selfTests,
                      "Self-test schedule, smartd -s syntax: regex over T/MM/DD/d/HH");
    serve->add_option("--health-log", options->collect.healthLog,
                      "Health log: plotted on the status page, and every poll is recorded in it");
    AddSourceOptions(serve, *options);
    serve->callback([&exitCode, options] { exitCode = RunServe(*options); });

    CLI::App* metrics = app.add_subcommand(
        "metrics", "One poll of the disks: the Prometheus exposition on stdout or in a textfile");
    metrics->add_option("--textfile", options->textfileDir,
                        "Write DIR/ovra.prom (through a temporary file and a rename)");
    AddSourceOptions(metrics, *options);
    metrics->callback([&exitCode, options] { exitCode = RunMetrics(*options); });
}

}  // namespace ovractl
