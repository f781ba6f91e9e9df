// The pure parts: datagram checks, NTP timestamps across eras, server strings.

#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "libntp/src/NtpWire.h"
#include "libntp/src/ServerName.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace Ovra::Ntp;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kOrigin = 0x0123456789abcdefULL;
constexpr std::int64_t kSecond = 1000000000;
// 2036-02-07 06:28:16 UTC: NTP seconds wrap to 0 here.
constexpr std::int64_t kEraWrapUnixSeconds = 4294967296LL - kNtpToUnixSeconds;

Bytes ServerReply() {
    Bytes r = {0x24, 2, 0xfa, 0xec, 0, 1, 0x80, 0, 0, 0, 0x40, 0, 'G', 'P', 'S', 0};
    r.resize(48, 0);
    for (int i = 0; i < 8; ++i) r[24 + i] = static_cast<std::uint8_t>(kOrigin >> (56 - 8 * i));
    r[32] = r[40] = 0xe0;  // receive and transmit: some time in 2019
    r[47] = 1;
    return r;
}

int Parse(const Bytes& bytes, Reply& reply) {
    return ParseReply(bytes.data(), bytes.size(), kOrigin, reply);
}

TEST(NtpWireTest, DecodesAServerReply) {
    Reply reply;
    Bytes bytes = ServerReply();
    bytes.resize(68, 0xff);  // trailing extension fields are not ours to judge
    ASSERT_EQ(NTP_OK, Parse(bytes, reply));
    EXPECT_TRUE(reply.originMatched);
    EXPECT_EQ((std::vector<long long>{0, 4, 4, 2, -6, -20}),
              (std::vector<long long>{reply.leap, reply.version, reply.mode, reply.stratum,
                                      reply.poll, reply.precision}));
    EXPECT_EQ(1500000000, NtpShortToNanos(reply.rootDelay));
    EXPECT_EQ(250000000, NtpShortToNanos(reply.rootDispersion));
    EXPECT_EQ(0x47505300u, reply.referenceId);
    EXPECT_EQ(0xe000000000000001ULL, reply.transmitTime);
    EXPECT_STREQ("", reply.kissCode);
}

TEST(NtpWireTest, JudgesHeaderFields) {
    struct Case {
        const char* name;
        void (*change)(Bytes&);
        int expected;
        const char* kiss;
    } cases[] = {
        // Mode, version 2, leap 3, stratum 16 and a zero transmit timestamp are exercised end to
        // end against the scripted server; these are the finer points.
        {"version 3", [](Bytes& r) { r[0] = 0x1c; }, NTP_OK, ""},
        {"version 5", [](Bytes& r) { r[0] = 0x2c; }, NTP_E_MALFORMED, ""},
        {"leap 1 (leap second ahead)", [](Bytes& r) { r[0] |= 0x40; }, NTP_OK, ""},
        {"stratum 15", [](Bytes& r) { r[1] = 15; }, NTP_OK, ""},
        {"stratum 255", [](Bytes& r) { r[1] = 255; }, NTP_E_BAD_STRATUM, ""},
        {"kiss DENY, leap 0", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "DENY", 4); },
         NTP_E_KISS_OF_DEATH, "DENY"},
        {"short kiss", [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "X\0\0\0", 4); },
         NTP_E_KISS_OF_DEATH, "X"},
        {"stratum 0, leap 3, no code", [](Bytes& r) { r[0] |= 0xc0, r[1] = 0, r[12] = 0; },
         NTP_E_UNSYNCHRONIZED, ""},
        {"stratum 0, leap 0, no code", [](Bytes& r) { r[1] = 0, r[12] = 0x7f; },
         NTP_E_KISS_OF_DEATH, ""},
        {"zero receive", [](Bytes& r) { std::fill(r.begin() + 32, r.begin() + 40, 0); },
         NTP_E_MALFORMED, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = ServerReply();
        c.change(bytes);
        Reply reply;
        EXPECT_EQ(c.expected, Parse(bytes, reply));
        EXPECT_TRUE(reply.originMatched);
        EXPECT_STREQ(c.kiss, reply.kissCode);
    }
}

TEST(NtpWireTest, ShortOrForeignDatagramsDoNotAnswerUs) {
    Reply reply;
    EXPECT_EQ(NTP_E_MALFORMED, ParseReply(nullptr, 48, kOrigin, reply));
    EXPECT_EQ(NTP_E_MALFORMED, ParseReply(nullptr, 0, kOrigin, reply));
    const Bytes good = ServerReply();
    for (std::size_t length = 0; length < kPacketSize; ++length) {
        const Bytes exact(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(NTP_E_MALFORMED, Parse(exact, reply)) << length;
        EXPECT_FALSE(reply.originMatched);
    }
    EXPECT_EQ(NTP_E_ORIGIN_MISMATCH, ParseReply(good.data(), good.size(), kOrigin + 1, reply));
    EXPECT_FALSE(reply.originMatched);

    // Whatever arrives, the parser stays inside the datagram (checked under the sanitizers).
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        Bytes noise(random() % 80);
        for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
        if (noise.size() >= 32 && random() % 2) std::copy(&good[24], &good[32], &noise[24]);
        const int code = Parse(noise, reply);
        EXPECT_TRUE(code >= NTP_OK && code <= NTP_E_BAD_STRATUM && code != 1);
    }
}

TEST(NtpEraTest, ResolvesTimestampsAcrossErasAndAroundThe2036Wrap) {
    for (const std::int64_t t : {std::int64_t{0}, (kEraWrapUnixSeconds - 1) * kSecond + 999999999,
                                 kEraWrapUnixSeconds * kSecond, 4102444800 * kSecond + 500000000,
                                 -kNtpToUnixSeconds * kSecond + 1 /* 1900 */}) {
        // The reference is decades away, yet within half an era: the era is still found.
        for (const std::int64_t away : {0LL, 40LL * 365 * 86400, -40LL * 365 * 86400}) {
            EXPECT_EQ(t, NtpToUnixNanos(UnixNanosToNtp(t), t + away * kSecond)) << t << " " << away;
        }
    }
    EXPECT_EQ(0u, UnixNanosToNtp(kEraWrapUnixSeconds * kSecond));
    EXPECT_EQ(0xffffffff00000000ULL, UnixNanosToNtp((kEraWrapUnixSeconds - 1) * kSecond));
    EXPECT_EQ(static_cast<std::uint64_t>(kNtpToUnixSeconds) << 32, UnixNanosToNtp(0));

    // Local clock just after the wrap, server stamp just before it (still era 0), and the reverse.
    const std::int64_t after = (kEraWrapUnixSeconds + 10) * kSecond;
    const std::int64_t before = (kEraWrapUnixSeconds - 10) * kSecond;
    EXPECT_EQ(before - 6 * kSecond, NtpToUnixNanos(0xfffffff000000000ULL, after));
    EXPECT_EQ(after + 5 * kSecond, NtpToUnixNanos(0x0000000f00000000ULL, before));
    EXPECT_EQ(after + kSecond / 2, NtpToUnixNanos(0x0000000a80000000ULL, after));

    // A small value is 1900 seen from 1930 but 2036 seen from 2030.
    const std::int64_t from1930 = -40LL * 365 * 86400 * kSecond;
    const std::int64_t from2030 = 1900000000 * kSecond;
    EXPECT_EQ((5 - kNtpToUnixSeconds) * kSecond, NtpToUnixNanos(5ULL << 32, from1930));
    EXPECT_EQ((kEraWrapUnixSeconds + 5) * kSecond, NtpToUnixNanos(5ULL << 32, from2030));
}

TEST(ServerNameTest, SplitsHostAndPort) {
    struct Case {
        std::wstring text;
        const char* host;
        std::uint16_t port;
        bool ipv6;
    } cases[] = {
        {L"pool.ntp.org", "pool.ntp.org", 123, false},
        {L"time.example:1234", "time.example", 1234, false},
        {L"127.0.0.1:65535", "127.0.0.1", 65535, false},
        {L"[::1]", "::1", 123, true},
        {L"[2001:db8::1]:4123", "2001:db8::1", 4123, true},
        {L"fe80::1%eth0", "fe80::1%eth0", 123, true},
        {L" \thost \t", "host", 123, false},
    };
    for (const Case& c : cases) {
        ServerName name;
        ASSERT_TRUE(ParseServerName(c.text.data(), c.text.size(), name)) << c.host;
        EXPECT_EQ(c.host, name.host);
        EXPECT_EQ(c.port, name.port);
        EXPECT_EQ(c.ipv6, name.ipv6Literal);
    }
}

TEST(ServerNameTest, RejectsUnparsableText) {
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
