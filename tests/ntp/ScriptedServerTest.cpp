// The client against a scripted loopback responder: the answers a real server will not give.
#include <gtest/gtest.h>
#include <ntp/Ntp.h>

#include "libntp/src/NtpWire.h"

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

using Bytes = std::vector<std::uint8_t>;
using Change = void (*)(Bytes&);  // applied to a good reply

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Datagram {
    Change change;  // null: the good reply itself
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

    // Runs `run` on another thread and answers its request with `script`, as a stratum 2 server
    // `offsetNs` ahead of our clock; what `run` returned. `request` receives the request.
    int Answer(const std::vector<Datagram>& script, const std::function<int()>& run,
               std::int64_t offsetNs = 0, Bytes* request = nullptr) {
        std::future<int> query = std::async(std::launch::async, run);
        Bytes received(48);
        sockaddr_in client{};
        Length length = sizeof client;
        // A failed receive: Windows saying an earlier reply found its client gone.
        while (recvfrom(m_sockets[0], reinterpret_cast<char*>(received.data()), 48, 0,
                        reinterpret_cast<sockaddr*>(&client), &length) != 48)
            length = sizeof client;
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
            sendto(m_sockets[d.fromOtherPort], reinterpret_cast<const char*>(reply.data()),
                   static_cast<int>(reply.size()), 0, reinterpret_cast<sockaddr*>(&client), length);
        }
        return query.get();
    }

    std::wstring name;

private:
    Socket m_sockets[2];
};

const Change Kiss = [](Bytes& r) { r[1] = 0, std::memcpy(&r[12], "RATE", 4); };
const Change WrongMode = [](Bytes& r) { r[0] = 0x23; };
const Change OtherOrigin = [](Bytes& r) { r[31] ^= 1; };
const Change Short = [](Bytes& r) { r.resize(47); };
const Datagram good{nullptr, false}, otherPort{nullptr, true};
const std::int64_t kOffsetNs = 90'250'000'000;  // the server is ahead of our clock

TEST(ScriptedServerTest, RejectsEachBadReplyAndRanksWhatItIgnored) {
    Responder server;
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
        const auto client = [&] { return GetNtpTimeEx(server.name.c_str(), c.timeoutMs, &result); };
        EXPECT_EQ(c.expected, server.Answer(c.script, client, kOffsetNs, &request));
        if (c.expected == NTP_OK) {  // the server's time, corrected by half the round trip
            EXPECT_NEAR(kOffsetNs / 1e6, result.offsetNs / 1e6, 50.0);
            EXPECT_NEAR((NowNanos() + kOffsetNs) / 1e6, static_cast<double>(result.timeMs), 50.0);
            EXPECT_GT(result.delayNs, 0);  // the server held the request for no time at all
        }
        EXPECT_EQ(std::string(server.name.begin(), server.name.end()), result.address);
        EXPECT_STREQ(c.expected == NTP_E_KISS_OF_DEATH ? "RATE" : "", result.kissCode);
        // The request's transmit stamp is random, not our clock: an off-path forger cannot guess
        // it from the time of day.
        ASSERT_EQ(0x23, request.at(0));  // LI 0, VN 4, mode 3
        std::uint64_t stamp = 0;
        for (int i = 40; i < 48; ++i) stamp = (stamp << 8) | request[i];
        EXPECT_GT(std::llabs(Ovra::Ntp::NtpToUnixNanos(stamp, NowNanos()) - NowNanos()),
                  1000000000);
        EXPECT_NE(previousStamp, stamp);
        previousStamp = stamp;
    }
}

TEST(ScriptedServerTest, StoresTheTimeOnlyOnSuccessAndRejectsBadArguments) {
    Responder server;
    long long time = -1;
    const auto query = [&] { return GetNtpTime(server.name, time); };
    EXPECT_EQ(NTP_E_KISS_OF_DEATH, server.Answer({{Kiss, false}}, query));
    EXPECT_EQ(-1, time);
    ASSERT_EQ(NTP_OK, server.Answer({good}, query, kOffsetNs));
    EXPECT_NEAR(static_cast<double>(NowNanos() + kOffsetNs) / 1e6, static_cast<double>(time), 50.0);
    NtpResult result;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTime(server.name + std::wstring(1, L'\0'), time));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(nullptr, 100, &result));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(L"[127.0.0.1]", 100, &result));
    EXPECT_EQ(NTP_E_RESOLVE, GetNtpTimeEx(L"ntp.example.invalid", 100, &result));
    EXPECT_NE(0, result.systemError);
}

}  // namespace
