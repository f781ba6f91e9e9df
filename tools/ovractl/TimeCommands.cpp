#include "TimeCommands.h"

#include "Output.h"
#include "ValueText.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/ResultCodes.h>
#include <Ovra/TimeSyncService.h>
#include <ntp/Ntp.h>

#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>

namespace ovractl {

namespace {

struct TimeOptions {
    std::string server;
    std::vector<std::string> servers;
    unsigned int timeoutMs = 3000;
    bool set = false;
    bool json = false;
};

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", ms);
    return text;
}

int CmdQuery(const TimeOptions& o) {
    NtpResult result{};
    const int rc = GetNtpTimeEx(Wide(o.server).c_str(), o.timeoutMs, &result);
    if (rc) return Fail("cannot query " + o.server, NtpStatusText(rc), rc);
    const double offset = static_cast<double>(result.offsetNs) / 1e6;
    const double delay = static_cast<double>(result.delayNs) / 1e6;
    if (o.json) {
        std::cout << nlohmann::json{{"server", o.server},    {"address", result.address},
                                    {"time", result.timeMs}, {"offsetMs", offset},
                                    {"roundTripMs", delay},  {"stratum", result.stratum}}
                         .dump()
                  << '\n';
    } else {
        std::cout << "server     " << o.server << " (" << result.address << ")\n"
                  << "offset     " << Milliseconds(offset) << " (server minus this clock)\n"
                  << "round trip " << Milliseconds(delay) << "\n"
                  << "stratum    " << result.stratum << "\n";
    }
    return 0;
}

// The service's own query, without setting anything.
class TimeProbe : public Ovra::TimeSyncService {
public:
    using Ovra::TimeSyncService::GetNetworkTime;
};

// Reports a synchronisation pass as the service runs it, and says when the pass is over.
class SyncReporter : public Ovra::TimeSyncServiceObserver {
public:
    explicit SyncReporter(std::size_t servers) : m_servers(servers) {}
    void OnTimeSync(Ovra::TimeSyncService*, int code, long long& time,
                    const std::wstring& server) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (code == Ovra::result::kClockAboutToBeSet) {
            std::cout << "setting the clock from " << Utf8(server) << " to " << time << " ms\n";
            return;
        }
        if (code == Ovra::result::kOk || code == Ovra::result::kSystemFailed) {
            m_result = code;
            std::cout << (code == Ovra::result::kOk ? "clock set\n" : "setting the clock failed\n");
        } else {
            std::cout << Utf8(server) << ": failed (" << code << ")\n";
            m_result = code;
            if (++m_failures < m_servers) return;
        }
        m_finished = true;
        m_done.notify_all();
    }
    int Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return m_finished; });
        return m_result;
    }

private:
    std::size_t m_servers;
    std::size_t m_failures = 0;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    int m_result = Ovra::result::kOk;
};

int CmdSync(const TimeOptions& o) {
    std::list<std::wstring> servers;
    for (const std::string& s : o.servers) servers.push_back(Wide(s));
    if (!o.set) {
        TimeProbe probe;
        if (int rc = probe.Create()) return Fail("cannot load libntp", LibraryCodeText(rc), rc);
        if (servers.empty()) probe.GetScheduleTimeServer(servers);
        int last = 0;
        for (const std::wstring& server : servers) {
            long long time = 0;
            const long long before = Ovra::GetCurTime();
            last = probe.GetNetworkTime(server, time);
            if (last == Ovra::result::kOk && time != 0) {
                const long long offset = time - before;
                std::cout << Utf8(server) << ": " << time << " ms (" << (offset >= 0 ? "+" : "")
                          << offset << " ms from this clock); the clock is not set without --set\n";
                return 0;
            }
            std::cout << Utf8(server) << ": failed (" << last << ")\n";
        }
        return Fail("no server answered", "", last ? last : kBadInput);
    }
    Ovra::TimeSyncService service;
    if (int rc = service.Create()) return Fail("cannot load libntp", LibraryCodeText(rc), rc);
    if (!servers.empty()) service.SetScheduleTimeServer(servers);
    service.GetScheduleTimeServer(servers);
    if (servers.empty()) return Fail("no server", "", kUsage);
    SyncReporter reporter(servers.size());
    service.SetObserver(&reporter);
    if (int rc = service.Start())
        return Fail("cannot start the time service", LibraryCodeText(rc), rc);
    service.SyncTimeServerNow();
    const int rc = reporter.Wait();
    service.SetObserver(nullptr);
    service.Destroy();
    return rc;
}

}  // namespace

void AddTimeCommands(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<TimeOptions>();
    CLI::App* time = app.add_subcommand("time", "Network time");
    time->require_subcommand(1);
    CLI::App* query = time->add_subcommand("query", "Ask one server; nothing is set");
    query->add_option("server", options->server, "host, host:port, [v6] or [v6]:port")->required();
    query->add_option("--timeout", options->timeoutMs, "Milliseconds to wait for the reply");
    query->add_flag("--json", options->json, "Print JSON");
    query->callback([&exitCode, options] { exitCode = CmdQuery(*options); });

    CLI::App* sync = time->add_subcommand("sync", "One pass of the time service over the servers");
    sync->add_option("servers", options->servers, "Servers in order (default: the service's list)");
    sync->add_flag("--set", options->set, "Set the system clock (needs the right to)");
    sync->callback([&exitCode, options] { exitCode = CmdSync(*options); });
}

}  // namespace ovractl
