// The server of `ovractl serve` in-process on loopback, fed made-up disks: the exposition (with
// promtool as the judge), the answers and the limits that keep it up, and the status page as a
// real browser shows it.
#include "tests/support/ScratchDir.h"
#include "tools/ovractl/HealthLog.h"
#include "tools/ovractl/serve/Collectors.h"
#include "tools/ovractl/serve/Exposition.h"
#include "tools/ovractl/serve/HttpServer.h"

#include <gtest/gtest.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace ovractl {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

Snapshot MadeUpMachine() {
    Snapshot s;
    Ovra::DiskHealth& ata = s.disks[0];
    ata.kind = Ovra::DiskHealth::Ata;
    ata.model = L"Disk \"A\" \\ 2\nTB";
    ata.verdict = Ovra::DiskHealth::Warning;
    ata.reasons = {L"<script>alert(1)</script> 3 reallocated sectors"};
    ata.hasTemperature = true;
    ata.temperature = 41;
    ata.powerOnHours = 10;
    ata.attributes.push_back({5, L"Reallocated Sectors Count", 100, 99, 10, 3});
    ata.selfTests = {{Ovra::DiskSelfTest::Short, Ovra::DiskSelfTest::InProgress},
                     {Ovra::DiskSelfTest::Extended, Ovra::DiskSelfTest::Fatal}};
    Ovra::DiskHealth& nvme = s.disks[1];
    nvme.kind = Ovra::DiskHealth::Nvme;
    nvme.verdict = Ovra::DiskHealth::Failing;
    nvme.hasNvmeLog = true;
    nvme.nvme.percentageUsed = 95;
    nvme.nvme.mediaErrors = 7;
    nvme.selfTests = {{Ovra::DiskSelfTest::Short, Ovra::DiskSelfTest::Aborted}};
    VolumeFigures volume;
    volume.drive.root = L"/mnt/a/";
    volume.drive.totalSize = 1000;
    volume.drive.freeSize = 250;
    s.volumes.push_back(volume);
    s.time.server = "127.0.0.1:9";
    s.logs.push_back({"a.db", 12, 4096, 1700000000000});
    s.collectors = {{"disks", true}, {"volumes", true}, {"time", false}, {"logs", true}};
    for (int i = 0; i < 3; ++i) {
        HealthSample sample;
        sample.time = 1700000000000 + i * 60000;
        sample.temperature = 40 + i;
        s.history[0].push_back(sample);
    }
    return s;
}

bool Have(const char* program) {
#if defined(_WIN32)
    (void)program;
    return false;  // the judges are Linux programs
#else
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

TEST(ServeExpositionTest, MadeUpMachine) {
    const std::string text = BuildExposition(MadeUpMachine(), "1.2.3");
    for (const char* line : {
             "ovra_build_info{version=\"1.2.3\"} 1\n",
             "ovra_disk_info{disk=\"0\",model=\"Disk \\\"A\\\" \\\\ 2\\nTB\",serial=\"\","
             "firmware=\"\",kind=\"ATA\"} 1\n",
             "ovra_disk_health{disk=\"0\",verdict=\"Warning\"} 1\n",
             "ovra_disk_health{disk=\"0\",verdict=\"Good\"} 0\n",
             "ovra_disk_health{disk=\"1\",verdict=\"Failing\"} 1\n",
             "ovra_disk_power_on_seconds{disk=\"0\"} 36000\n",
             "ovra_disk_selftest_failed{disk=\"0\"} 1\n",  // the newest that ended
             "ovra_disk_selftest_failed{disk=\"1\"} 0\n",  // aborted is no failure
             "ovra_disk_smart_attribute_threshold{disk=\"0\",id=\"5\","
             "name=\"Reallocated Sectors Count\"} 10\n",
             "ovra_disk_smart_attribute_raw{disk=\"0\",id=\"5\","
             "name=\"Reallocated Sectors Count\"} 3\n",
             "ovra_disk_nvme_percentage_used_ratio{disk=\"1\"} 0.95\n",
             "ovra_disk_nvme_media_errors{disk=\"1\"} 7\n",
             "ovra_volume_free_bytes{root=\"/mnt/a/\",label=\"\",filesystem=\"other\"} 250\n",
             "ovra_collector_success{collector=\"time\"} 0\n",
             "ovra_log_oldest_record_timestamp_seconds{database=\"a.db\"} 1700000000\n",
         })
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    for (const char* absent :
         {"ovra_time_offset_seconds", "ovra_disk_temperature_celsius{disk=\"1\"",
          "ovra_disk_nvme_media_errors{disk=\"0\""})
        EXPECT_EQ(std::string::npos, text.find(absent)) << absent;

    if (!Have("promtool")) GTEST_SKIP() << "no promtool here: the lint is not run";
    Ovra::testing_support::ScratchDir scratch("serve-exposition");
    std::ofstream(scratch.Path("metrics.prom"), std::ios::binary) << text;
    const std::string lint = "promtool check metrics < '" + scratch.Utf8Path("metrics.prom") + "'";
    EXPECT_EQ(0, std::system(lint.c_str()));
}

TEST(ServeEventsTest, KeepsTheLatestNumbered) {
    EventRing ring(200);
    for (int i = 0; i < 201; ++i) ring.Add(Ovra::DiskHealthEvent());
    const std::vector<NumberedEvent> kept = ring.After(0);
    ASSERT_EQ(200u, kept.size());
    EXPECT_EQ(2u, kept.front().sequence);
    EXPECT_EQ(1u, ring.After(200).size());
}

// A made-up machine served on a free loopback port for the length of a test.
class ServedMachine {
public:
    explicit ServedMachine(Collect collect, HttpLimits limits = HttpLimits())
        : m_site(std::move(collect), m_events, "1.2.3"),
          m_server(
              [this](const std::string& m, const std::string& t) { return m_site.Answer(m, t); },
              limits) {
        for (int i = 0; i < 3; ++i) m_events.Add(Ovra::DiskHealthEvent());
        EXPECT_EQ("", m_server.Listen("127.0.0.1:0"));
        const std::string address = m_server.Address();
        port = static_cast<unsigned short>(std::stoi(address.substr(address.rfind(':') + 1)));
        m_thread = std::thread([this] { m_server.Run(); });
    }
    ~ServedMachine() {
        m_server.Stop();
        m_thread.join();
    }
    unsigned short port = 0;

private:
    EventRing m_events;
    Site m_site;
    HttpServer m_server;
    std::thread m_thread;
};

// Sends `request` and reads until the server closes.
std::string Exchange(unsigned short port, const std::string& request) {
    asio::io_context io;
    tcp::socket socket(io);
    socket.connect({asio::ip::make_address("127.0.0.1"), port});
    boost::system::error_code ec;
    asio::write(socket, asio::buffer(request), ec);  // a refused connection may be closed already
    std::string response;
    asio::read(socket, asio::dynamic_buffer(response), ec);
    return response;
}

TEST(ServeHttpTest, AnswersAndRefusals) {
    ServedMachine served([](unsigned) { return MadeUpMachine(); },
                         {2048, std::chrono::seconds(10), 64});
    const std::string end = " HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
    const struct {
        std::string request;
        const char* status;
        const char* shows;
    } cases[] = {
        {"\x16\x03\x01\x02garbage\r\n\r\n", "HTTP/1.1 400", ""},
        {"GET /" + std::string(4000, 'a') + end, "HTTP/1.1 431", ""},
        {"GET / HTTP/1.1\r\nX: " + std::string(4000, 'b') + "\r\n\r\n", "HTTP/1.1 431", ""},
        {"POST /metrics" + end, "HTTP/1.1 405", "Allow: GET, HEAD\r\n"},
        {"GET /nope" + end, "HTTP/1.1 404", ""},
        {"GET /api/events?after=1x" + end, "HTTP/1.1 400", ""},
        {"GET /api/health" + end, "HTTP/1.1 200", "\"verdict\":\"Failing\""},
        {"GET /api/volumes" + end, "HTTP/1.1 200", "\"root\":\"/mnt/a/\""},
        {"HEAD /metrics" + end, "HTTP/1.1 200", "version=0.0.4"},
        {"GET /" + end, "HTTP/1.1 200", "&lt;script&gt;alert(1)"},
        {"GET /metrics" + end, "HTTP/1.1 200", "ovra_disk_nvme_media_errors{disk=\"1\"} 7\n"},
    };
    for (const auto& c : cases) {
        const std::string response = Exchange(served.port, c.request);
        EXPECT_EQ(0u, response.rfind(c.status, 0)) << c.request.substr(0, 30) << response;
        EXPECT_NE(std::string::npos, response.find(c.shows)) << c.request.substr(0, 30) << response;
        if (c.request.rfind("HEAD", 0) == 0) {
            EXPECT_EQ(response.size(), response.find("\r\n\r\n") + 4);  // no body
        }
    }
    const std::string events = Exchange(served.port, "GET /api/events?after=2" + end);
    EXPECT_NE(std::string::npos, events.find("\"sequence\":3,"));
    EXPECT_EQ(std::string::npos, events.find("\"sequence\":2"));
}

TEST(ServeHttpTest, SlowClientIsDropped) {
    ServedMachine served([](unsigned) { return MadeUpMachine(); },
                         {8192, std::chrono::milliseconds(200), 64});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("", Exchange(served.port, "GET /metrics HTTP/1.1\r\nHost:"));  // never finished
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ServeHttpTest, ConnectionsBeyondTheCapAreClosed) {
    ServedMachine served([](unsigned) { return MadeUpMachine(); },
                         {8192, std::chrono::seconds(10), 1});
    asio::io_context io;
    tcp::socket first(io);
    first.connect({asio::ip::make_address("127.0.0.1"), served.port});
    http::request<http::empty_body> request(http::verb::get, "/metrics", 11);
    http::write(first, request);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(first, buffer, response);  // the first stays open, holding the only place
    EXPECT_EQ("", Exchange(served.port, "GET /metrics HTTP/1.1\r\n\r\n"));
}

TEST(ServeHttpTest, ThousandScrapesFiftyAtATime) {
    ServedMachine served([](unsigned) { return MadeUpMachine(); });
    std::atomic<int> answered{0};
    std::vector<std::thread> scrapers;
    for (int t = 0; t < 50; ++t) {
        scrapers.emplace_back([&] {
            asio::io_context io;
            tcp::socket socket(io);
            boost::system::error_code ec;
            socket.connect({asio::ip::make_address("127.0.0.1"), served.port}, ec);
            boost::beast::flat_buffer buffer;
            for (int i = 0; i < 20 && !ec; ++i) {
                http::request<http::empty_body> request(http::verb::get, "/metrics", 11);
                request.set(http::field::host, "t");
                http::write(socket, request, ec);
                http::response<http::string_body> response;
                if (!ec) http::read(socket, buffer, response, ec);
                if (!ec && response.result_int() == 200) ++answered;
            }
        });
    }
    for (std::thread& t : scrapers) t.join();
    EXPECT_EQ(1000, answered.load());
}

// The page as a person sees it: the live collectors over a health log with a few readings.
TEST(ServeBrowserTest, StatusPageInChromium) {
    if (!Have("chromium")) GTEST_SKIP() << "no chromium here: the page is not rendered";
    Ovra::testing_support::ScratchDir scratch("serve-browser");
    {
        HealthLog log;
        ASSERT_EQ(0, log.Open(scratch.WidePath("health.db")));
        Ovra::DiskHealth h = MadeUpMachine().disks[0];
        for (int i = 0; i < 4; ++i, ++h.temperature, ++h.attributes[0].raw)
            ASSERT_EQ(0, log.Record(1700000000000 + i * 1800000, 3, h));
    }
    CollectorOptions options;
    options.healthLog = scratch.Utf8Path("health.db");
    options.timeServer = "127.0.0.1:9";
    Collectors collectors(options, [] {
        std::map<long long, Ovra::DiskHealth> disks;
        disks[3] = MadeUpMachine().disks[0];
        return disks;
    });
    ASSERT_EQ("", collectors.Open());
    ServedMachine served([&collectors](unsigned parts) { return collectors.Collect(parts); });
    const std::string command =
        "chromium --headless --no-sandbox --disable-gpu --dump-dom "
        "http://127.0.0.1:" +
        std::to_string(served.port) + "/ 2>/dev/null";
    std::string dom;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            dom.append(chunk, n);
        pclose(pipe);
    }
    for (const char* shows : {"Disk3 <span", ">Warning<", "class=\"bar\"", "°C</text>",
                              "5 Reallocated Sectors Count</text>", "<polyline"})
        EXPECT_NE(std::string::npos, dom.find(shows)) << shows << dom;
    EXPECT_EQ(2, [&] {  // temperature and the counters, four readings each
        int lines = 0;
        for (std::size_t at = 0; (at = dom.find("points=\"", at)) != std::string::npos; ++at)
            lines += std::count(dom.begin() + at, dom.begin() + dom.find('"', at + 8), ',') == 4;
        return lines;
    }());
}

}  // namespace
}  // namespace ovractl
