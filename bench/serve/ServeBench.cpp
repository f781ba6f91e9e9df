// Scrape latency of `ovractl serve` with 32 disks (22 attributes each, as an ATA disk reports)
// and 4 log databases: the exposition alone, and a GET /metrics round trip over loopback on a
// kept-alive connection, with its 50th and 99th percentiles.
#include "tools/ovractl/serve/Exposition.h"
#include "tools/ovractl/serve/HttpServer.h"

#include <benchmark/benchmark.h>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <thread>

namespace {

using namespace ovractl;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

Snapshot BusyServer() {
    Snapshot s;
    for (long long d = 0; d < 32; ++d) {
        Ovra::DiskHealth& h = s.disks[d];
        h.kind = Ovra::DiskHealth::Ata;
        h.model = L"WDC WD80PURZ-85YNPY0";
        h.serial = L"VGH" + std::to_wstring(100000 + d);
        h.firmware = L"80.00A80";
        h.verdict = d % 7 ? Ovra::DiskHealth::Good : Ovra::DiskHealth::Warning;
        h.hasTemperature = true;
        h.temperature = 30 + static_cast<int>(d % 15);
        h.powerOnHours = 20000 + d;
        for (int id : {1,   3,   4,   5,   7,   9,   10,  12,  183, 184, 187,
                       188, 189, 190, 191, 192, 193, 194, 197, 198, 199, 200})
            h.attributes.push_back({id, Ovra::SmartAttributeName(id), 100, 98, 6, id * 1000LL});
        h.selfTests.push_back({Ovra::DiskSelfTest::Short, Ovra::DiskSelfTest::Passed, 19000});
        h.errorLogCount = 0;
    }
    for (int l = 0; l < 4; ++l)
        s.logs.push_back(
            {"/var/lib/ovra/log" + std::to_string(l) + ".db", 5000000, 1ull << 31, 1700000000000});
    for (const wchar_t* root : {L"/", L"/srv/rec1/", L"/srv/rec2/"}) {
        VolumeFigures v;
        v.drive.root = root;
        v.drive.totalSize = 8ull << 40;
        v.drive.freeSize = 1ull << 40;
        s.volumes.push_back(v);
    }
    s.time = {"pool.ntp.org", true, 0.0004, 1700000000000};
    s.collectors = {{"disks", true}, {"volumes", true}, {"time", true}, {"logs", true}};
    return s;
}

void BM_Exposition(benchmark::State& state) {
    const Snapshot snapshot = BusyServer();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = BuildExposition(snapshot, "1.0.0");
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Exposition)->Unit(benchmark::kMicrosecond);

void BM_ScrapeRoundTrip(benchmark::State& state) {
    const Snapshot snapshot = BusyServer();
    EventRing events;
    const Site site([&snapshot](unsigned) { return snapshot; }, events, "1.0.0");
    HttpServer server(
        [&site](const std::string& m, const std::string& t) { return site.Answer(m, t); });
    if (!server.Listen("127.0.0.1:0").empty()) return state.SkipWithError("cannot listen");
    std::thread serving([&server] { server.Run(); });
    const std::string address = server.Address();
    boost::asio::io_context io;
    tcp::socket socket(io);
    socket.connect(
        {boost::asio::ip::make_address("127.0.0.1"),
         static_cast<unsigned short>(std::stoi(address.substr(address.rfind(':') + 1)))});
    boost::beast::flat_buffer buffer;
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        http::request<http::empty_body> request(http::verb::get, "/metrics", 11);
        request.set(http::field::host, "bench");
        http::write(socket, request);
        http::response<http::string_body> response;
        http::read(socket, buffer, response);
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    server.Stop();
    serving.join();
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_ScrapeRoundTrip)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
