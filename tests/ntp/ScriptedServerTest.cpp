// The client against a scripted loopback responder: every way a reply can be wrong.

#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "libntp/src/NtpWire.h"
#include "tests/support/TestUdp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace {

using Bytes = std::vector<std::uint8_t>;
using NtpTest::UdpSocket;

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | p[i];
    return value;
}

void Store64(std::uint64_t value, std::uint8_t* p) {
    for (int i = 7; i >= 0; --i, value >>= 8) p[i] = static_cast<std::uint8_t>(value);
}

// A stratum 2 server's answer to `request`, its clock `offsetNs` ahead of ours.
Bytes GoodReply(const Bytes& request, std::int64_t offsetNs = 0) {
    Bytes reply(48, 0);
    reply[0] = (0 << 6) | (4 << 3) | 4;
    reply[1] = 2;
    reply[2] = 6;
    reply[3] = static_cast<std::uint8_t>(-20);
    std::memcpy(&reply[24], &request[40], 8);
    const std::uint64_t now = Ovra::Ntp::UnixNanosToNtp(NowNanos() + offsetNs);
    Store64(now, &reply[32]);
    Store64(now, &reply[40]);
    return reply;
}

struct Datagram {
    Bytes bytes;
    bool fromOtherPort = false;
};
using Script = std::function<std::vector<Datagram>(const Bytes& request)>;

Script Answer(std::function<void(Bytes&)> change = nullptr, bool fromOtherPort = false) {
    return [=](const Bytes& request) {
        Datagram d{GoodReply(request), fromOtherPort};
        if (change) change(d.bytes);
        return std::vector<Datagram>{d};
    };
}

// Answers each request as its script says, from its own port or from a second socket.
class ScriptedServer {
public:
    explicit ScriptedServer(int family) : m_socket(family), m_other(family) {
        if (m_socket.Valid() && m_other.Valid()) m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedServer() {
        if (!m_thread.joinable()) return;
        m_stopping = true;
        m_other.SendTo(Bytes{0}, m_socket.Local());
        m_thread.join();
    }
    bool Valid() const { return m_thread.joinable(); }
    void SetScript(Script script) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script = std::move(script);
    }
    std::uint16_t Port() const { return m_socket.Port(); }
    std::wstring Address() const {
        const std::wstring port = std::to_wstring(m_socket.Port());
        return (m_socket.Local().ss_family == AF_INET6 ? L"[::1]:" : L"127.0.0.1:") + port;
    }
    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    void Run() {
        Bytes request;
        sockaddr_storage client{};
        for (;;) {
            // A failed receive is Windows reporting that an earlier reply found no client.
            const bool received = m_socket.Receive(request, client);
            if (m_stopping) return;
            if (!received) continue;
            Script script;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back(request);
                script = m_script;
            }
            if (!script || request.size() < 48) continue;
            for (const Datagram& d : script(request)) {
                (d.fromOtherPort ? m_other : m_socket).SendTo(d.bytes, client);
            }
        }
    }

    UdpSocket m_socket;
    UdpSocket m_other;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    Script m_script;
    std::vector<Bytes> m_requests;
    std::thread m_thread;
};

class ScriptedServerTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Valid()); }

    int Query(unsigned timeoutMs = 5000) {
        return GetNtpTimeEx(m_server.Address().c_str(), timeoutMs, &m_result);
    }

    ScriptedServer m_server{AF_INET};
    NtpResult m_result{};
};

TEST_F(ScriptedServerTest, AcceptsGoodReplyAndCorrectsForServerOffset) {
    for (const std::int64_t offsetNs : {std::int64_t{0}, std::int64_t{90'250'000'000}}) {
        SCOPED_TRACE(offsetNs);
        m_server.SetScript([=](const Bytes& request) {
            return std::vector<Datagram>{{GoodReply(request, offsetNs)}};
        });
        ASSERT_EQ(NTP_OK, Query());
        const long long expectedMs = (NowNanos() + offsetNs) / 1000000;
        EXPECT_NEAR(static_cast<double>(expectedMs), static_cast<double>(m_result.timeMs), 50.0);
        EXPECT_NEAR(static_cast<double>(offsetNs), static_cast<double>(m_result.offsetNs), 50e6);
        EXPECT_GE(m_result.delayNs, 0);
        EXPECT_EQ(2, m_result.stratum);
        EXPECT_EQ(4, m_result.version);
        EXPECT_EQ(-20, m_result.precision);
        EXPECT_EQ("127.0.0.1:" + std::to_string(m_server.Port()), m_result.address);
    }
}

TEST_F(ScriptedServerTest, SendsClientRequestsWithRandomTransmitTimestamps) {
    m_server.SetScript(Answer());
    ASSERT_EQ(NTP_OK, Query());
    ASSERT_EQ(NTP_OK, Query());
    const std::vector<Bytes> requests = m_server.Requests();
    ASSERT_EQ(2u, requests.size());
    for (const Bytes& request : requests) {
        ASSERT_EQ(48u, request.size());
        EXPECT_EQ(0x23, request[0]);  // LI 0, VN 4, mode 3
        EXPECT_EQ(Bytes(39, 0), Bytes(request.begin() + 1, request.begin() + 40));
        // Not our clock: an off-path forger cannot guess it from the time of day.
        const std::int64_t stamped = Ovra::Ntp::NtpToUnixNanos(Load64(&request[40]), NowNanos());
        EXPECT_GT(std::llabs(stamped - NowNanos()), 1'000'000'000LL);
    }
    EXPECT_NE(Load64(&requests[0][40]), Load64(&requests[1][40]));
}

TEST_F(ScriptedServerTest, RejectsEachKindOfBadReplyWithItsOwnCode) {
    const auto kiss = [](Bytes& r) {
        r[0] |= 0xC0;
        r[1] = 0;
        std::memcpy(&r[12], "RATE", 4);
    };
    const auto thenGood = [](Script first) {
        return [=](const Bytes& request) {
            std::vector<Datagram> out = first(request);
            out.push_back({GoodReply(request)});
            return out;
        };
    };
    struct Case {
        const char* name;
        Script script;
        unsigned timeoutMs;  // short where the client must wait the time-out out
        int expected;
    } cases[] = {
        {"wrong mode", Answer([](Bytes& r) { r[0] = (r[0] & ~7u) | 5u; }), 5000, NTP_E_MALFORMED},
        {"version 2", Answer([](Bytes& r) { r[0] = (r[0] & 0xC7u) | (2u << 3); }), 5000,
         NTP_E_MALFORMED},
        {"leap 3", Answer([](Bytes& r) { r[0] |= 0xC0; }), 5000, NTP_E_UNSYNCHRONIZED},
        {"kiss-o'-death", Answer(kiss), 5000, NTP_E_KISS_OF_DEATH},
        {"stratum 16", Answer([](Bytes& r) { r[1] = 16; }), 5000, NTP_E_BAD_STRATUM},
        {"zero transmit", Answer([](Bytes& r) { std::fill(r.begin() + 40, r.end(), 0); }), 5000,
         NTP_E_ZERO_TRANSMIT},
        {"wrong origin", Answer([](Bytes& r) { r[31] ^= 1; }), 200, NTP_E_ORIGIN_MISMATCH},
        {"short packet", Answer([](Bytes& r) { r.resize(47); }), 200, NTP_E_MALFORMED},
        {"other port", Answer(nullptr, true), 200, NTP_E_WRONG_SOURCE},
        {"silence", [](const Bytes&) { return std::vector<Datagram>{}; }, 200, NTP_E_TIMEOUT},
        // Datagrams that cannot answer our request are ignored; one that does ends the query.
        {"wrong origin, then good", thenGood(Answer([](Bytes& r) { r[31] ^= 1; })), 5000, NTP_OK},
        {"other port, then good", thenGood(Answer(nullptr, true)), 5000, NTP_OK},
        {"wrong mode, then good", thenGood(Answer([](Bytes& r) { r[0] = (r[0] & ~7u) | 3u; })),
         5000, NTP_E_MALFORMED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.SetScript(c.script);
        EXPECT_EQ(c.expected, Query(c.timeoutMs));
    }
    m_server.SetScript(Answer(kiss));
    ASSERT_EQ(NTP_E_KISS_OF_DEATH, Query());
    EXPECT_STREQ("RATE", m_result.kissCode);
    EXPECT_EQ(0, m_result.stratum);
}

TEST_F(ScriptedServerTest, ConcurrentQueriesEachGetTheirOwnAnswer) {
    m_server.SetScript(Answer());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                NtpResult result;
                if (GetNtpTimeEx(m_server.Address().c_str(), 5000, &result) != NTP_OK) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
    std::set<std::uint64_t> stamps;
    for (const Bytes& request : m_server.Requests()) stamps.insert(Load64(&request[40]));
    EXPECT_EQ(80u, stamps.size());
}

TEST_F(ScriptedServerTest, GetNtpTimeStoresTimeOnlyOnSuccess) {
    m_server.SetScript(Answer());
    long long time = -1;
    ASSERT_EQ(NTP_OK, GetNtpTime(m_server.Address(), time));
    EXPECT_NEAR(static_cast<double>(NowNanos() / 1000000), static_cast<double>(time), 50.0);
    time = -1;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTime(L"", time));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTime(m_server.Address() + std::wstring(1, L'\0'), time));
    EXPECT_EQ(-1, time);
}

TEST(NtpClientTest, AnswersOverIpv6) {
    ScriptedServer server(AF_INET6);
    if (!server.Valid()) GTEST_SKIP() << "no IPv6 loopback";
    server.SetScript(Answer());
    NtpResult result;
    ASSERT_EQ(NTP_OK, GetNtpTimeEx(server.Address().c_str(), 5000, &result));
    EXPECT_EQ("[::1]:" + std::to_string(server.Port()), result.address);
}

TEST(NtpClientTest, RejectsBadArgumentsAndUnresolvableNames) {
    NtpResult result;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(nullptr, 100, &result));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(L"127.0.0.1", 100, nullptr));
    for (const wchar_t* bad : {L"", L"[::1", L"host:0", L"host:99999", L"[127.0.0.1]", L"a b"}) {
        EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(bad, 100, &result));
    }
    const std::wstring tooLong(2000, L'a');
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(tooLong.c_str(), 100, &result));
    EXPECT_EQ(NTP_E_RESOLVE, GetNtpTimeEx(L"ntp.example.invalid", 100, &result));
    EXPECT_NE(0, result.systemError);
    EXPECT_STREQ("unknown code", NtpStatusText(1));
}

}  // namespace
