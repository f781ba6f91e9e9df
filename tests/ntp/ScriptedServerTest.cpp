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

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t TransmitStamp(const Bytes& packet) {
    std::uint64_t value = 0;
    for (int i = 40; i < 48; ++i) value = (value << 8) | packet[i];
    return value;
}

struct Datagram {
    void (*change)(Bytes&);  // applied to a good reply; null: the good reply itself
    bool fromOtherPort;
};

// Answers each request with the datagrams of its script, as a stratum 2 server `offsetNs` ahead of
// our clock, from its own port or from another one.
class ScriptedServer {
public:
    explicit ScriptedServer(int family, std::int64_t offsetNs = 0) : m_offsetNs(offsetNs) {
#ifdef _WIN32
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        (void)started;
#endif
        for (int i = 0; i < 2; ++i) {
            m_sockets[i] = socket(family, SOCK_DGRAM, IPPROTO_UDP);
            sockaddr_storage& local = m_local[i];
            Length length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
            local.ss_family = static_cast<decltype(local.ss_family)>(family);
            if (family == AF_INET6) {
                reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr = in6addr_loopback;
            } else {
                reinterpret_cast<sockaddr_in*>(&local)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            }
            auto* address = reinterpret_cast<sockaddr*>(&local);
            if (bind(m_sockets[i], address, length) != 0 ||
                getsockname(m_sockets[i], address, &length) != 0) {
                return;
            }
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedServer() {
        if (m_thread.joinable()) {
            m_stopping = true;
            Send(1, Bytes{0}, m_local[0]);
            m_thread.join();
        }
        for (Socket s : m_sockets) Close(s);
    }
    bool Valid() const {
        return m_thread.joinable();
    }
    // "127.0.0.1:port" or "[::1]:port", as the client describes the address it queried.
    std::string Address() const {
        const bool v6 = m_local[0].ss_family == AF_INET6;
        const std::uint16_t port =
            v6 ? reinterpret_cast<const sockaddr_in6*>(&m_local[0])->sin6_port
               : reinterpret_cast<const sockaddr_in*>(&m_local[0])->sin_port;
        return (v6 ? "[::1]:" : "127.0.0.1:") + std::to_string(ntohs(port));
    }
    std::wstring Name() const {
        const std::string address = Address();
        return std::wstring(address.begin(), address.end());
    }
    void Script(std::vector<Datagram> script) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script = std::move(script);
    }
    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    void Send(int socket, const Bytes& data, const sockaddr_storage& to) {
        const Length length = to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        sendto(m_sockets[socket], reinterpret_cast<const char*>(data.data()),
               static_cast<int>(data.size()), 0, reinterpret_cast<const sockaddr*>(&to), length);
    }
    void Run() {
        while (!m_stopping) {
            Bytes request(2048);
            sockaddr_storage client{};
            Length length = sizeof client;
            const auto n = recvfrom(m_sockets[0], reinterpret_cast<char*>(request.data()), 2048, 0,
                                    reinterpret_cast<sockaddr*>(&client), &length);
            // A failed receive is Windows reporting that an earlier reply found no client.
            if (n < 48 || m_stopping) continue;
            request.resize(static_cast<std::size_t>(n));
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            for (const Datagram& d : m_script) {
                Bytes reply(48, 0);
                reply[0] = 0x24;  // LI 0, VN 4, mode 4
                reply[1] = 2;
                std::memcpy(&reply[24], &request[40], 8);
                const std::uint64_t now = Ovra::Ntp::UnixNanosToNtp(NowNanos() + m_offsetNs);
                for (int i = 0; i < 8; ++i)
                    reply[32 + i] = reply[40 + i] = static_cast<std::uint8_t>(now >> (56 - 8 * i));
                if (d.change) d.change(reply);
                Send(d.fromOtherPort ? 1 : 0, reply, client);
            }
        }
    }

    const std::int64_t m_offsetNs;
    Socket m_sockets[2] = {Socket(~0), Socket(~0)};
    sockaddr_storage m_local[2] = {};
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::vector<Datagram> m_script = {{nullptr, false}};
    std::vector<Bytes> m_requests;
    std::thread m_thread;
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
    ScriptedServer server(AF_INET);
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Script(c.script);
        NtpResult result;
        EXPECT_EQ(c.expected, GetNtpTimeEx(server.Name().c_str(), c.timeoutMs, &result));
        EXPECT_EQ(server.Address(), result.address);
        EXPECT_STREQ(c.expected == NTP_E_KISS_OF_DEATH ? "RATE" : "", result.kissCode);
    }
    // Requests carry random transmit stamps, not our clock: an off-path forger cannot guess them.
    std::set<std::uint64_t> stamps;
    for (const Bytes& request : server.Requests()) {
        const std::int64_t stamped = Ovra::Ntp::NtpToUnixNanos(TransmitStamp(request), NowNanos());
        EXPECT_GT(std::llabs(stamped - NowNanos()), 1'000'000'000LL);
        stamps.insert(TransmitStamp(request));
    }
    EXPECT_EQ(std::size(cases), stamps.size());
}

TEST(ScriptedServerTest, MeasuresTheOffsetOverBothFamilies) {
    const std::int64_t offsetNs = 90'250'000'000;
    for (const int family : {AF_INET, AF_INET6}) {
        ScriptedServer server(family, offsetNs);
        if (!server.Valid()) continue;  // no IPv6 loopback here
        NtpResult result;
        ASSERT_EQ(NTP_OK, GetNtpTimeEx(server.Name().c_str(), 5000, &result));
        EXPECT_NEAR(static_cast<double>((NowNanos() + offsetNs) / 1000000),
                    static_cast<double>(result.timeMs), 50.0);
        EXPECT_NEAR(9.025e10, static_cast<double>(result.offsetNs), 50e6);
        EXPECT_GE(result.delayNs, 0);
        EXPECT_EQ(2, result.stratum);
        EXPECT_EQ(server.Address(), result.address);
    }
}

TEST(ScriptedServerTest, GetNtpTimeStoresTheTimeOnlyOnSuccess) {
    ScriptedServer server(AF_INET);
    ASSERT_TRUE(server.Valid());
    long long time = -1;
    ASSERT_EQ(NTP_OK, GetNtpTime(server.Name(), time));
    EXPECT_NEAR(static_cast<double>(NowNanos() / 1000000), static_cast<double>(time), 50.0);
    time = -1;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTime(server.Name() + std::wstring(1, L'\0'), time));
    server.Script({{Kiss, false}});
    EXPECT_EQ(NTP_E_KISS_OF_DEATH, GetNtpTime(server.Name(), time));
    EXPECT_EQ(-1, time);
    NtpResult result;
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(nullptr, 100, &result));
    EXPECT_EQ(NTP_E_BAD_ARGUMENT, GetNtpTimeEx(L"[127.0.0.1]", 100, &result));
    EXPECT_EQ(NTP_E_RESOLVE, GetNtpTimeEx(L"ntp.example.invalid", 100, &result));
    EXPECT_NE(0, result.systemError);
}

}  // namespace
