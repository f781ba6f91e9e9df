// libntp: the verdict on a datagram, NTP timestamps across eras and server strings, then the
// client against a scripted loopback responder for the answers a real server will not give.
#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "libntp/src/NtpWire.h"
#include "libntp/src/ServerName.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using Socket = SOCKET;
using Length = int;
#define CloseSocket closesocket
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
using Length = socklen_t;
#define CloseSocket close
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace {

using namespace Ovra::Ntp;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kOrigin = 0x01000000000000efULL;
constexpr std::int64_t kSecond = 1000000000;
// 2036-02-07 06:28:16 UTC: NTP seconds wrap to 0 here.
constexpr std::int64_t kWrap = 4294967296LL - kNtpToUnixSeconds;

TEST(NtpWireTest, JudgesEachField) {
    const int kKiss = NTP_E_KISS_OF_DEATH, kBad = NTP_E_MALFORMED;
    const struct {
        const char* name;
        void (*change)(Bytes&);
        int expected;
        const char* kiss;
    } cases[] = {
        // Version 3, leap 1 (a leap second ahead) and stratum 15 are all still good.
        {"the last good values", [](Bytes& r) { r[0] = 0x5c, r[1] = 15; }, NTP_OK, ""},
        {"version 2", [](Bytes& r) { r[0] = 0x14; }, kBad, ""},
        {"version 5", [](Bytes& r) { r[0] = 0x2c; }, kBad, ""},
        {"mode 5", [](Bytes& r) { r[0] = 0x25; }, kBad, ""},
        {"leap 3", [](Bytes& r) { r[0] |= 0xc0; }, NTP_E_UNSYNCHRONIZED, ""},
        {"stratum 16", [](Bytes& r) { r[1] = 16; }, NTP_E_BAD_STRATUM, ""},
        {"kiss", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "DENY", 4); }, kKiss, "DENY"},
        {"short kiss", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "X\0\0\0", 4); }, kKiss, "X"},
        {"gap", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "A\0B\0", 4); }, kKiss, ""},
        // As chronyd answers while it is not synchronised.
        {"stratum 0, leap 3, no code", [](Bytes& r) { r[0] |= 0xc0, r[1] = 0, r[12] = 0; },
         NTP_E_UNSYNCHRONIZED, ""},
        {"stratum 0, leap 0, no code", [](Bytes& r) { r[1] = 0, r[12] = 0x7f; }, kKiss, ""},
        {"zero transmit", [](Bytes& r) { std::memset(&r[40], 0, 8); }, NTP_E_ZERO_TRANSMIT, ""},
        {"zero receive", [](Bytes& r) { std::memset(&r[32], 0, 8); }, kBad, ""},
        {"other origin", [](Bytes& r) { r[31] ^= 1; }, NTP_E_ORIGIN_MISMATCH, ""},
        {"47 bytes", [](Bytes& r) { r.resize(47); }, kBad, ""},
        // Last, so that its fields are checked below: extension fields are not ours to judge.
        {"extension fields", [](Bytes& r) { r.resize(68, 0xff); }, NTP_OK, ""},
    };
    Reply r;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Stratum 2, poll 2^6, precision 2^-20, root delay 1.5 s, dispersion 0.25 s, reference
        // "GPS"; kOrigin; reference, receive and transmit times in 2019.
        Bytes bytes = {0x24, 2, 6, 0xec, 0, 1, 0x80, 0, 0, 0, 0x40, 0, 'G', 'P', 'S', 0, 0xe0};
        bytes.resize(48, 0);
        bytes[24] = 0x01, bytes[31] = 0xef, bytes[32] = bytes[40] = 0xe0, bytes[47] = 1;
        c.change(bytes);
        EXPECT_EQ(c.expected, ParseReply(bytes.data(), bytes.size(), kOrigin, r));
        EXPECT_EQ(c.expected != NTP_E_ORIGIN_MISMATCH && bytes.size() >= 48, r.originMatched);
        EXPECT_STREQ(c.kiss, r.kissCode);
    }
    EXPECT_EQ((std::vector<long long>{0, 4, 4, 2, 6, -20, 1500000000, 250000000, 0x47505300}),
              (std::vector<long long>{r.leap, r.version, r.mode, r.stratum, r.poll, r.precision,
                                      NtpShortToNanos(r.rootDelay),
                                      NtpShortToNanos(r.rootDispersion), r.referenceId}));
    EXPECT_EQ((std::vector<std::uint64_t>{0xe0ULL << 56, 0xe000000000000001ULL}),
              (std::vector<std::uint64_t>{r.referenceTime, r.transmitTime}));
}

TEST(NtpEraTest, ResolvesTimestampsAcrossErasAndAroundThe2036Wrap) {
    for (const std::int64_t t : {std::int64_t{0}, (kWrap - 1) * kSecond + 999999999,
                                 kWrap * kSecond, -kNtpToUnixSeconds * kSecond + 1 /* 1900 */}) {
        // A reference decades away, but within half an era, still finds the era.
        for (const std::int64_t away : {0LL, 40LL * 365 * 86400, -40LL * 365 * 86400})
            EXPECT_EQ(t, NtpToUnixNanos(UnixNanosToNtp(t), t + away * kSecond)) << t << " " << away;
    }
    EXPECT_EQ(0xffffffff80000000ULL, UnixNanosToNtp((kWrap - 1) * kSecond + kSecond / 2));
    // A small value is 1900 seen from 1930, but 2036 seen from 2030.
    EXPECT_EQ((5 - kNtpToUnixSeconds) * kSecond,
              NtpToUnixNanos(5ULL << 32, -40LL * 31536000 * kSecond));
    EXPECT_EQ((kWrap + 5) * kSecond, NtpToUnixNanos(5ULL << 32, 1900000000 * kSecond));
}

TEST(ServerNameTest, SplitsHostAndPortAndRejectsTheRest) {
    const auto parse = [](const std::wstring& text) {
        ServerName n;
        if (!ParseServerName(text.data(), text.size(), n)) return std::string("rejected");
        return n.host + " " + std::to_string(n.port) + (n.ipv6Literal ? " IPv6" : "");
    };
    EXPECT_EQ("pool.ntp.org 123", parse(L"pool.ntp.org"));
    EXPECT_EQ("127.0.0.1 65535", parse(L"127.0.0.1:65535"));
    EXPECT_EQ("2001:db8::1 4123 IPv6", parse(L"[2001:db8::1]:4123"));
    EXPECT_EQ("::1 123 IPv6", parse(L"[::1]"));
    EXPECT_EQ("fe80::1%eth0 123 IPv6", parse(L"fe80::1%eth0"));
    EXPECT_EQ("host 1", parse(L" \thost:1 \t"));
    std::vector<std::wstring> bad = {
        L"",      L"  ",      L"host:", L":123",     L"host:0", L"host:65536", L"host:123456",
        L"[::1",  L"host:-1", L"[]",    L"host:12a", L"[]:123", L"host: 12",   L"[::1]x",
        L"host]", L"[::1]:",  L"a b",   L"[[::1]]",  L"ho\nst", L"h\x00e9te"};
    bad.insert(bad.end(), {std::wstring(L"host\0x", 6), std::wstring(kMaxServerLength + 1, L'a')});
    for (const std::wstring& text : bad) EXPECT_EQ("rejected", parse(text)) << text.size();
}

const std::int64_t kOffsetNs = 90'250'000'000;  // the server is ahead of our clock

std::int64_t NowNanos() {
    return std::chrono::system_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

// Two UDP sockets on 127.0.0.1: the server's port, and another one to send from.
class Responder {
public:
    Responder() {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        for (Socket& s : m_sockets) {
            s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            Length length = sizeof local;
            bind(s, reinterpret_cast<sockaddr*>(&local), length);
            getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
            if (name.empty()) name = L"127.0.0.1:" + std::to_wstring(ntohs(local.sin_port));
        }
    }
    ~Responder() {
        for (Socket s : m_sockets) CloseSocket(s);
    }

    // Runs `run` on another thread, keeps its request and answers it with one datagram per letter
    // of `script`, as a stratum 2 server kOffsetNs ahead of our clock: 'g' a good reply, 'p' one
    // from another port, 'k' a kiss-o'-death, 'm' mode 3, 'o' another origin, 's' 47 bytes.
    // What `run` returned.
    int Answer(const char* script, const std::function<int()>& run) {
        std::future<int> query = std::async(std::launch::async, run);
        sockaddr_in client{};
        Length length = sizeof client;
        // A failed receive: Windows saying an earlier reply found its client gone.
        while (recvfrom(m_sockets[0], reinterpret_cast<char*>(request), 48, 0,
                        reinterpret_cast<sockaddr*>(&client), &length) != 48)
            length = sizeof client;
        for (const char* c = script; *c; ++c) {
            std::uint8_t reply[48] = {0x24, 2};  // LI 0, VN 4, mode 4; stratum 2
            if (*c == 'm') reply[0] = 0x23;
            if (*c == 'k') reply[1] = 0, std::memcpy(&reply[12], "RATE", 4);
            std::memcpy(&reply[24], &request[40], 8);
            reply[31] ^= *c == 'o';
            const std::uint64_t now = UnixNanosToNtp(NowNanos() + kOffsetNs);
            for (int i = 0; i < 8; ++i)
                reply[32 + i] = reply[40 + i] = static_cast<std::uint8_t>(now >> (56 - 8 * i));
            sendto(m_sockets[*c == 'p'], reinterpret_cast<const char*>(reply), *c == 's' ? 47 : 48,
                   0, reinterpret_cast<sockaddr*>(&client), length);
        }
        return query.get();
    }

    std::wstring name;
    std::uint8_t request[48] = {};

private:
    Socket m_sockets[2];
};

TEST(ScriptedServerTest, JudgesRepliesRanksWhatItIgnoredAndRejectsBadArguments) {
    Responder server;
    const struct {
        const char* script;
        unsigned timeoutMs;  // short where the client must wait the time-out out
        int expected;
    } cases[] = {
        {"k", 5000, NTP_E_KISS_OF_DEATH},
        {"mg", 5000, NTP_E_MALFORMED},  // the first answer to our request is final
        {"pog", 5000, NTP_OK},          // what does not answer it is passed over
        {"", 200, NTP_E_TIMEOUT},
        {"p", 200, NTP_E_WRONG_SOURCE},
        // A datagram from the server says more than a stranger's; of two from the server, the last.
        {"sop", 200, NTP_E_ORIGIN_MISMATCH},
    };
    std::uint64_t previousStamp = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        NtpResult result;
        const auto client = [&] { return GetNtpTimeEx(server.name.c_str(), c.timeoutMs, &result); };
        const long long before = NowNanos();
        EXPECT_EQ(c.expected, server.Answer(c.script, client));
        const long long after = NowNanos();
        if (c.expected == NTP_OK) {  // the server's time, corrected by half the round trip
            // Wrong by at most half the round trip, however loaded the machine.
            const double slackMs = result.delayNs / 2e6 + 5.0;
            EXPECT_NEAR(kOffsetNs / 1e6, result.offsetNs / 1e6, slackMs);
            EXPECT_GE(result.timeMs + slackMs, (before + kOffsetNs) / 1e6);
            EXPECT_LE(result.timeMs - slackMs, (after + kOffsetNs) / 1e6);
            // The server held the request for no time at all.
            EXPECT_TRUE(result.delayNs > 0 && result.delayNs < kSecond) << result.delayNs;
            EXPECT_EQ((std::vector<int>{2, 0, 4}),
                      (std::vector<int>{result.stratum, result.leap, result.version}));
        }
        EXPECT_EQ(std::string(server.name.begin(), server.name.end()), result.address);
        EXPECT_STREQ(c.expected == NTP_E_KISS_OF_DEATH ? "RATE" : "", result.kissCode);
        // The request's transmit stamp is random, not our clock: an off-path forger cannot guess
        // it from the time of day.
        ASSERT_EQ(0x23, server.request[0]);  // LI 0, VN 4, mode 3
        std::uint64_t stamp = 0;
        for (int i = 40; i < 48; ++i) stamp = (stamp << 8) | server.request[i];
        EXPECT_GT(std::llabs(NtpToUnixNanos(stamp, NowNanos()) - NowNanos()), 1000000000);
        EXPECT_NE(previousStamp, stamp);
        previousStamp = stamp;
    }
    // The plain entry point stores the time only on success.
    long long time = -1;
    const auto query = [&] { return GetNtpTime(server.name, time); };
    EXPECT_EQ(NTP_E_KISS_OF_DEATH, server.Answer("k", query));
    EXPECT_EQ(-1, time);
    const long long before = NowNanos();
    ASSERT_EQ(NTP_OK, server.Answer("g", query));
    EXPECT_GE(time + 1000, (before + kOffsetNs) / 1000000);  // the server's time, not ours
    EXPECT_LE(time, (NowNanos() + kOffsetNs) / 1000000 + 1000);
    NtpResult result;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTime(server.name + std::wstring(1, L'\0'), time));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(nullptr, 100, &result));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(L"[127.0.0.1]", 100, &result));
    EXPECT_EQ(NTP_E_RESOLVE, GetNtpTimeEx(L"ntp.example.invalid", 100, &result));
    EXPECT_NE(0, result.systemError);
}

}  // namespace
