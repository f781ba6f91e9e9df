// The pure parts: the verdict on a datagram, NTP timestamps across eras, server strings.
#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "libntp/src/NtpWire.h"
#include "libntp/src/ServerName.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace Ovra::Ntp;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kOrigin = 0x0123456789abcdefULL;
constexpr std::int64_t kSecond = 1000000000;
// 2036-02-07 06:28:16 UTC: NTP seconds wrap to 0 here.
constexpr std::int64_t kWrap = 4294967296LL - kNtpToUnixSeconds;

// Stratum 2, poll 2^6, precision 2^-20, root delay 1.5 s, dispersion 0.25 s, reference "GPS".
Bytes ServerReply() {
    Bytes r = {0x24, 2, 6, 0xec, 0, 1, 0x80, 0, 0, 0, 0x40, 0, 'G', 'P', 'S', 0};
    r.resize(48, 0);
    for (int i = 0; i < 8; ++i) r[24 + i] = static_cast<std::uint8_t>(kOrigin >> (56 - 8 * i));
    r[32] = r[40] = 0xe0;  // receive and transmit: some time in 2019
    r[47] = 1;
    return r;
}

TEST(NtpWireTest, JudgesEachField) {
    struct Case {
        const char* name;
        void (*change)(Bytes&);
        int expected;
        bool originMatched;
        const char* kiss;
    } cases[] = {
        {"version 3", [](Bytes& r) { r[0] = 0x1c; }, NTP_OK, true, ""},
        {"version 2", [](Bytes& r) { r[0] = 0x14; }, NTP_E_MALFORMED, true, ""},
        {"version 5", [](Bytes& r) { r[0] = 0x2c; }, NTP_E_MALFORMED, true, ""},
        {"mode 5", [](Bytes& r) { r[0] = 0x25; }, NTP_E_MALFORMED, true, ""},
        {"leap 1 (leap second ahead)", [](Bytes& r) { r[0] |= 0x40; }, NTP_OK, true, ""},
        {"leap 3", [](Bytes& r) { r[0] |= 0xc0; }, NTP_E_UNSYNCHRONIZED, true, ""},
        {"stratum 15", [](Bytes& r) { r[1] = 15; }, NTP_OK, true, ""},
        {"stratum 16", [](Bytes& r) { r[1] = 16; }, NTP_E_BAD_STRATUM, true, ""},
        {"kiss DENY", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "DENY", 4); },
         NTP_E_KISS_OF_DEATH, true, "DENY"},
        {"short kiss", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "X\0\0\0", 4); },
         NTP_E_KISS_OF_DEATH, true, "X"},
        {"kiss with a gap", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "A\0B\0", 4); },
         NTP_E_KISS_OF_DEATH, true, ""},
        {"stratum 0, leap 3, no code", [](Bytes& r) { r[0] |= 0xc0, r[1] = 0, r[12] = 0; },
         NTP_E_UNSYNCHRONIZED, true, ""},
        {"stratum 0, leap 0, no code", [](Bytes& r) { r[1] = 0, r[12] = 0x7f; },
         NTP_E_KISS_OF_DEATH, true, ""},
        {"zero transmit", [](Bytes& r) { std::memset(&r[40], 0, 8); }, NTP_E_ZERO_TRANSMIT, true,
         ""},
        {"zero receive", [](Bytes& r) { std::memset(&r[32], 0, 8); }, NTP_E_MALFORMED, true, ""},
        {"other origin", [](Bytes& r) { r[31] ^= 1; }, NTP_E_ORIGIN_MISMATCH, false, ""},
        {"47 bytes", [](Bytes& r) { r.resize(47); }, NTP_E_MALFORMED, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = ServerReply();
        c.change(bytes);
        Reply reply;
        EXPECT_EQ(c.expected, ParseReply(bytes.data(), bytes.size(), kOrigin, reply));
        EXPECT_EQ(c.originMatched, reply.originMatched);
        EXPECT_STREQ(c.kiss, reply.kissCode);
    }
    Bytes bytes = ServerReply();
    bytes.resize(68, 0xff);  // trailing extension fields are not ours to judge
    Reply r;
    ASSERT_EQ(NTP_OK, ParseReply(bytes.data(), bytes.size(), kOrigin, r));
    EXPECT_EQ((std::vector<long long>{0, 4, 4, 2, 6, -20, 1500000000, 250000000, 0x47505300}),
              (std::vector<long long>{r.leap, r.version, r.mode, r.stratum, r.poll, r.precision,
                                      NtpShortToNanos(r.rootDelay),
                                      NtpShortToNanos(r.rootDispersion), r.referenceId}));
    EXPECT_EQ(0xe000000000000001ULL, r.transmitTime);
}

TEST(NtpEraTest, ResolvesTimestampsAcrossErasAndAroundThe2036Wrap) {
    for (const std::int64_t t : {std::int64_t{0}, (kWrap - 1) * kSecond + 999999999,
                                 kWrap * kSecond, -kNtpToUnixSeconds * kSecond + 1 /* 1900 */}) {
        // A reference decades away, but within half an era, still finds the era.
        for (const std::int64_t away : {0LL, 40LL * 365 * 86400, -40LL * 365 * 86400}) {
            EXPECT_EQ(t, NtpToUnixNanos(UnixNanosToNtp(t), t + away * kSecond)) << t << " " << away;
        }
    }
    EXPECT_EQ(0xffffffff80000000ULL, UnixNanosToNtp((kWrap - 1) * kSecond + kSecond / 2));
    // A small value is 1900 seen from 1930, but 2036 seen from 2030.
    EXPECT_EQ((5 - kNtpToUnixSeconds) * kSecond,
              NtpToUnixNanos(5ULL << 32, -40LL * 31536000 * kSecond));
    EXPECT_EQ((kWrap + 5) * kSecond, NtpToUnixNanos(5ULL << 32, 1900000000 * kSecond));
}

TEST(ServerNameTest, SplitsHostAndPortAndRejectsTheRest) {
    // Accepted: the host, its port and whether it is an IPv6 literal, as "host port 6".
    for (const auto& [text, parsed] : std::vector<std::pair<std::wstring, std::string>>{
             {L"pool.ntp.org", "pool.ntp.org 123 0"},
             {L"127.0.0.1:65535", "127.0.0.1 65535 0"},
             {L"[2001:db8::1]:4123", "2001:db8::1 4123 1"},
             {L"[::1]", "::1 123 1"},
             {L"fe80::1%eth0", "fe80::1%eth0 123 1"},
             {L" \thost:1 \t", "host 1 0"}}) {
        ServerName n;
        ASSERT_TRUE(ParseServerName(text.data(), text.size(), n)) << parsed;
        EXPECT_EQ(parsed,
                  n.host + " " + std::to_string(n.port) + " " + (n.ipv6Literal ? "1" : "0"));
    }
    std::vector<std::wstring> bad = {
        L"",      L"  ",      L"host:", L":123",     L"host:0", L"host:65536", L"host:123456",
        L"[::1",  L"host:-1", L"[]",    L"host:12a", L"[]:123", L"host: 12",   L"[::1]x",
        L"host]", L"[::1]:",  L"a b",   L"[[::1]]",  L"ho\nst", L"h\x00e9te"};
    bad.push_back(std::wstring(L"host\0x", 6));
    bad.push_back(std::wstring(kMaxServerLength + 1, L'a'));
    for (const std::wstring& text : bad) {
        ServerName name;
        EXPECT_FALSE(ParseServerName(text.data(), text.size(), name)) << text.size();
    }
}

}  // namespace
