// The client against a scripted loopback responder: the answers a real server will not give.
#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "libntp/src/NtpWire.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using Socket = SOCKET;
using Length = int;
static void Close(Socket s) {
    closesocket(s);
}
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
using Length = socklen_t;
static void Close(Socket s) {
    close(s);
}
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Datagram {
    void (*change)(Bytes&);  // applied to a good reply; null: the good reply itself
    bool fromOtherPort;
};

// Two UDP sockets on 127.0.0.1: the server's port, and another one to send from.
class Responder {
public:
    Responder() {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        for (int i = 0; i < 2; ++i) {
            m_sockets[i] = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            Length length = sizeof local;
            auto* address = reinterpret_cast<sockaddr*>(&local);
            m_valid = bind(m_sockets[i], address, length) == 0 &&
                      getsockname(m_sockets[i], address, &length) == 0;
            if (i == 0) m_address = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
        }
    }
    ~Responder() {
        for (Socket s : m_sockets) Close(s);
    }
    bool Valid() const {
        return m_valid;
    }
    const std::string& Address() const {
        return m_address;
    }
    std::wstring Name() const {
        return std::wstring(m_address.begin(), m_address.end());
    }

    // Runs `run` on another thread and answers its request with `script`, as a stratum 2
    // server `offsetNs` ahead of our clock; what `run` returned. `request` receives the request.
    int Answer(const std::vector<Datagram>& script, const std::function<int()>& run,
               std::int64_t offsetNs = 0, Bytes* request = nullptr) {
        std::future<int> query = std::async(std::launch::async, run);
        Bytes received(2048);
        sockaddr_in client{};
        Length length = sizeof client;
        long n = -1;
        while (n < 0) {  // a failed receive: Windows saying an earlier reply found its client gone
            length = sizeof client;
            n = static_cast<long>(recvfrom(m_sockets[0], reinterpret_cast<char*>(received.data()),
                                           2048, 0, reinterpret_cast<sockaddr*>(&client), &length));
        }
        received.resize(static_cast<std::size_t>(n));
        if (received.size() != 48) return -1;
        if (request) *request = received;
        for (const Datagram& d : script) {
            Bytes reply(48, 0);
            reply[0] = 0x24;  // LI 0, VN 4, mode 4
            reply[1] = 2;
            std::memcpy(&reply[24], &received[40], 8);
            const std::uint64_t now = Ovra::Ntp::UnixNanosToNtp(NowNanos() + offsetNs);
            for (int i = 0; i < 8; ++i)
                reply[32 + i] = reply[40 + i] = static_cast<std::uint8_t>(now >> (56 - 8 * i));
            if (d.change) d.change(reply);
            sendto(m_sockets[d.fromOtherPort ? 1 : 0], reinterpret_cast<const char*>(reply.data()),
                   static_cast<int>(reply.size()), 0, reinterpret_cast<sockaddr*>(&client), length);
        }
        return query.get();
    }

private:
    Socket m_sockets[2] = {Socket(~0), Socket(~0)};
    std::string m_address;
    bool m_valid = false;
};

void Kiss(Bytes& r) {
    r[1] = 0;
    std::memcpy(&r[12], "RATE", 4);
}
void WrongMode(Bytes& r) {
    r[0] = 0x23;
}
void OtherOrigin(Bytes& r) {
    r[31] ^= 1;
}
void Short(Bytes& r) {
    r.resize(47);
}

TEST(ScriptedServerTest, RejectsEachBadReplyAndRanksWhatItIgnored) {
    Responder server;
    ASSERT_TRUE(server.Valid());
    const Datagram good{nullptr, false};
    const Datagram otherPort{nullptr, true};
    const struct Case {
        const char* name;
        std::vector<Datagram> script;
        unsigned timeoutMs;  // short where the client must wait the time-out out
        int expected;
    } cases[] = {
        {"kiss-o'-death", {{Kiss, false}}, 5000, NTP_E_KISS_OF_DEATH},
        {"wrong mode, then good: the first answer is final",
         {{WrongMode, false}, good},
         5000,
         NTP_E_MALFORMED},
        {"other origin, then good", {{OtherOrigin, false}, good}, 5000, NTP_OK},
        {"other port, then good", {otherPort, good}, 5000, NTP_OK},
        {"silence", {}, 200, NTP_E_TIMEOUT},
        {"other port", {otherPort}, 200, NTP_E_WRONG_SOURCE},
        {"short, then other port", {{Short, false}, otherPort}, 200, NTP_E_MALFORMED},
        {"other port, then other origin",
         {otherPort, {OtherOrigin, false}},
         200,
         NTP_E_ORIGIN_MISMATCH},
        {"short, then other origin",
         {{Short, false}, {OtherOrigin, false}},
         200,
         NTP_E_ORIGIN_MISMATCH},
    };
    std::uint64_t previousStamp = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NtpResult result;
        Bytes request;
        const auto client = [&] {
            return GetNtpTimeEx(server.Name().c_str(), c.timeoutMs, &result);
        };
        EXPECT_EQ(c.expected, server.Answer(c.script, client, 0, &request));
        EXPECT_EQ(server.Address(), result.address);
        EXPECT_STREQ(c.expected == NTP_E_KISS_OF_DEATH ? "RATE" : "", result.kissCode);
        // A client request whose transmit stamp is random, not our clock: an off-path forger
        // cannot guess it from the time of day.
        ASSERT_EQ(0x23, request.at(0));  // LI 0, VN 4, mode 3
        std::uint64_t stamp = 0;
        for (int i = 40; i < 48; ++i) stamp = (stamp << 8) | request[i];
        const std::int64_t stamped = Ovra::Ntp::NtpToUnixNanos(stamp, NowNanos());
        EXPECT_GT(std::llabs(stamped - NowNanos()), 1'000'000'000LL);
        EXPECT_NE(previousStamp, stamp);
        previousStamp = stamp;
    }
}

TEST(ScriptedServerTest, MeasuresTheOffsetAndStoresTheTimeOnlyOnSuccess) {
    Responder server;
    ASSERT_TRUE(server.Valid());
    const std::int64_t offsetNs = 90'250'000'000;
    const std::vector<Datagram> good = {{nullptr, false}};
    NtpResult result;
    const auto queryEx = [&] { return GetNtpTimeEx(server.Name().c_str(), 5000, &result); };
    ASSERT_EQ(NTP_OK, server.Answer(good, queryEx, offsetNs));
    const double expectedMs = static_cast<double>((NowNanos() + offsetNs) / 1000000);
    EXPECT_NEAR(expectedMs, static_cast<double>(result.timeMs), 50.0);
    EXPECT_NEAR(9.025e10, static_cast<double>(result.offsetNs), 50e6);
    EXPECT_GE(result.delayNs, 0);
    EXPECT_EQ(2, result.stratum);

    long long time = -1;
    const auto query = [&] { return GetNtpTime(server.Name(), time); };
    EXPECT_EQ(NTP_E_KISS_OF_DEATH, server.Answer({{Kiss, false}}, query));
    EXPECT_EQ(-1, time);
    ASSERT_EQ(NTP_OK, server.Answer(good, query, offsetNs));
    EXPECT_NEAR(expectedMs, static_cast<double>(time), 50.0);
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTime(server.Name() + std::wstring(1, L'\0'), time));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(nullptr, 100, &result));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(L"[127.0.0.1]", 100, &result));
    EXPECT_EQ(NTP_E_RESOLVE, GetNtpTimeEx(L"ntp.example.invalid", 100, &result));
    EXPECT_NE(0, result.systemError);
}

}  // namespace
