#include <ntp/Ntp.h>

#include "NtpWire.h"
#include "ServerName.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>

namespace Ovra::Ntp {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::nanoseconds;

#ifdef _WIN32
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

using SocketHandle = SOCKET;
const SocketHandle kNoSocket = INVALID_SOCKET;
using AddressLength = int;

int LastSocketError() {
    return WSAGetLastError();
}
void CloseSocket(SocketHandle s) {
    closesocket(s);
}

// Started once and never cleaned up: a WSACleanup while another thread queries would break it.
int StartSockets() {
    static const int status = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return status;
}

SocketHandle CreateUdpSocket(int family) {
    SocketHandle s = socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == kNoSocket) return s;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        const int error = WSAGetLastError();
        closesocket(s);
        WSASetLastError(error);
        return kNoSocket;
    }
    // Otherwise an ICMP port-unreachable for the request fails every later receive.
    BOOL report = FALSE;
    DWORD bytes = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    return s;
}

bool IsTransientReceiveError(int error) {
    // WSAEMSGSIZE: a datagram too large for the buffer, so not an NTP reply.
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAECONNRESET ||
           error == WSAENETRESET || error == WSAEMSGSIZE;
}

// 1 readable, 0 not yet, -1 error.
int WaitReadable(SocketHandle s, nanoseconds remaining) {
    const long long micros = (remaining.count() + 999) / 1000;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit;
    limit.tv_sec = static_cast<long>(std::min<long long>(micros / 1000000, LONG_MAX));
    limit.tv_usec = static_cast<long>(micros % 1000000);
    const int rc = select(0, &readable, nullptr, nullptr, &limit);
    return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}

long long SendTo(SocketHandle s, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                 AddressLength toLength) {
    return sendto(s, reinterpret_cast<const char*>(data), static_cast<int>(length), 0, to,
                  toLength);
}

long long ReceiveFrom(SocketHandle s, std::uint8_t* data, std::size_t length, sockaddr* from,
                      AddressLength* fromLength) {
    return recvfrom(s, reinterpret_cast<char*>(data), static_cast<int>(length), 0, from,
                    fromLength);
}
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
using AddressLength = socklen_t;

int LastSocketError() {
    return errno;
}
void CloseSocket(SocketHandle s) {
    close(s);
}
int StartSockets() {
    return 0;
}

SocketHandle CreateUdpSocket(int family) {
    // CLOEXEC: a child spawned by another thread of the host must not inherit it.
    return socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
}

bool IsTransientReceiveError(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR || error == ECONNREFUSED;
}

int WaitReadable(SocketHandle s, nanoseconds remaining) {
    const long long millis = (remaining.count() + 999999) / 1000000;
    pollfd entry{};
    entry.fd = s;
    entry.events = POLLIN;
    const int rc = poll(&entry, 1, static_cast<int>(std::min<long long>(millis, INT_MAX)));
    if (rc < 0) return errno == EINTR ? 0 : -1;
    return rc > 0 ? 1 : 0;
}

long long SendTo(SocketHandle s, const std::uint8_t* data, std::size_t length, const sockaddr* to,
                 AddressLength toLength) {
    return sendto(s, data, length, 0, to, toLength);
}

long long ReceiveFrom(SocketHandle s, std::uint8_t* data, std::size_t length, sockaddr* from,
                      AddressLength* fromLength) {
    return recvfrom(s, data, length, 0, from, fromLength);
}
#endif

class Socket {
public:
    explicit Socket(SocketHandle handle) : m_handle(handle) {}
    ~Socket() {
        if (m_handle != kNoSocket) CloseSocket(m_handle);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    SocketHandle Get() const { return m_handle; }
    bool Valid() const { return m_handle != kNoSocket; }

private:
    SocketHandle m_handle;
};

// Unconnected on purpose: a connected socket would have the kernel drop datagrams from other
// sources unseen, and we report those.
SocketHandle OpenSocket(int family, int& error) {
    SocketHandle s = CreateUdpSocket(family);
    if (s == kNoSocket) {
        error = LastSocketError();
        return s;
    }
    sockaddr_storage local{};
    local.ss_family = static_cast<decltype(local.ss_family)>(family);
    const AddressLength length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        error = LastSocketError();
        CloseSocket(s);
        return kNoSocket;
    }
    return s;
}

bool SameEndpoint(const sockaddr_storage& from, const sockaddr* server) {
    if (from.ss_family != server->sa_family) return false;
    if (server->sa_family == AF_INET) {
        sockaddr_in a;
        sockaddr_in b;
        std::memcpy(&a, &from, sizeof a);
        std::memcpy(&b, server, sizeof b);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    if (server->sa_family == AF_INET6) {
        sockaddr_in6 a;
        sockaddr_in6 b;
        std::memcpy(&a, &from, sizeof a);
        std::memcpy(&b, server, sizeof b);
        return a.sin6_port == b.sin6_port &&
               std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
    }
    return false;
}

void DescribeAddress(const sockaddr* address, AddressLength length, char (&out)[64]) {
    char host[64];
    char port[8];
    out[0] = '\0';
    if (getnameinfo(address, length, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return;
    }
    const int written = address->sa_family == AF_INET6
                            ? std::snprintf(out, sizeof out, "[%s]:%s", host, port)
                            : std::snprintf(out, sizeof out, "%s:%s", host, port);
    if (written < 0 || written >= static_cast<int>(sizeof out)) out[0] = '\0';
}

// The request's transmit timestamp: random, so that an off-path host cannot forge the answer.
std::uint64_t RandomTransmitTimestamp() {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    static std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::uint64_t value = 0;
    while (value == 0) value = engine();
    return value;
}

std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor) {
    std::int64_t quotient = value / divisor;
    if (value % divisor < 0) --quotient;
    return quotient;
}

struct SendTime {
    SteadyClock::time_point steady;
    std::int64_t unixNanos = 0;  // the real clock, read once: the exchange is timed on `steady`
};

void CopyHeader(const Reply& reply, NtpResult& result) {
    result.stratum = static_cast<int>(reply.stratum);
    result.leap = static_cast<int>(reply.leap);
    result.version = static_cast<int>(reply.version);
    result.poll = reply.poll;
    result.precision = reply.precision;
    result.referenceId = reply.referenceId;
    result.rootDelayNs = NtpShortToNanos(reply.rootDelay);
    result.rootDispersionNs = NtpShortToNanos(reply.rootDispersion);
    std::memcpy(result.kissCode, reply.kissCode, sizeof result.kissCode);
}

void ComputeTime(const Reply& reply, const SendTime& sent, SteadyClock::time_point arrival,
                 NtpResult& result) {
    const std::int64_t t1 = sent.unixNanos;
    const std::int64_t t4 = t1 + duration_cast<nanoseconds>(arrival - sent.steady).count();
    const std::int64_t t2 = NtpToUnixNanos(reply.receiveTime, t1);
    const std::int64_t t3 = NtpToUnixNanos(reply.transmitTime, t1);
    result.offsetNs = ((t2 - t1) + (t3 - t4)) / 2;
    // Clock granularity on a fast path can make it come out slightly negative.
    result.delayNs = std::max<std::int64_t>(0, (t4 - t1) - (t3 - t2));
    const std::int64_t localNow =
        t1 + duration_cast<nanoseconds>(SteadyClock::now() - sent.steady).count();
    result.timeMs = FloorDivide(localNow + result.offsetNs, 1000000);
}

// Ranks the reasons for ignoring a datagram: one from the server's address says more than one
// from elsewhere, which says more than nothing at all.
int Rank(int code) {
    if (code == NTP_E_TIMEOUT) return 0;
    if (code == NTP_E_WRONG_SOURCE) return 1;
    return 2;
}

int AwaitReply(SocketHandle s, const sockaddr* server, std::uint64_t origin, const SendTime& sent,
               SteadyClock::time_point deadline, NtpResult& result) {
    int pending = NTP_E_TIMEOUT;
    std::uint8_t buffer[1024];
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (now >= deadline) return pending;
        const int ready = WaitReadable(s, deadline - now);
        if (ready < 0) {
            result.systemError = LastSocketError();
            return NTP_E_SOCKET;
        }
        if (ready == 0) continue;

        sockaddr_storage from{};
        AddressLength fromLength = sizeof from;
        const long long received =
            ReceiveFrom(s, buffer, sizeof buffer, reinterpret_cast<sockaddr*>(&from), &fromLength);
        const SteadyClock::time_point arrival = SteadyClock::now();
        if (received < 0) {
            const int error = LastSocketError();
            if (IsTransientReceiveError(error)) continue;
            result.systemError = error;
            return NTP_E_SOCKET;
        }

        int verdict = NTP_E_WRONG_SOURCE;
        Reply reply;
        if (SameEndpoint(from, server)) {
            verdict = ParseReply(buffer, static_cast<std::size_t>(received), origin, reply);
            if (reply.originMatched) {
                CopyHeader(reply, result);
                if (verdict == NTP_OK) ComputeTime(reply, sent, arrival, result);
                return verdict;
            }
        }
        if (Rank(verdict) >= Rank(pending)) pending = verdict;
    }
}

int Query(const wchar_t* server, std::size_t length, unsigned int timeoutMs, NtpResult& result) {
    ServerName name;
    if (length > kMaxServerLength || !ParseServerName(server, length, name)) {
        return NTP_E_BAD_ARGUMENT;
    }
    if (const int error = StartSockets()) {
        result.systemError = error;
        return NTP_E_SOCKET;
    }

    addrinfo hints{};
    hints.ai_family = name.ipv6Literal ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = name.ipv6Literal ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(name.port);
    if (const int error = getaddrinfo(name.host.c_str(), port.c_str(), &hints, &found)) {
        result.systemError = error;
        // A literal that does not parse is the caller's mistake, not the resolver's.
        return name.ipv6Literal ? NTP_E_BAD_ARGUMENT : NTP_E_RESOLVE;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);

    // One request, to the first address we can send to.
    bool usable = false;
    int error = 0;
    for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
        if (address->ai_family != AF_INET && address->ai_family != AF_INET6) continue;
        usable = true;
        const Socket socket(OpenSocket(address->ai_family, error));
        if (!socket.Valid()) continue;
        const auto addressLength = static_cast<AddressLength>(address->ai_addrlen);
        DescribeAddress(address->ai_addr, addressLength, result.address);

        const std::uint64_t origin = RandomTransmitTimestamp();
        std::uint8_t request[kPacketSize];
        BuildRequest(origin, request);
        SendTime sent;
        sent.steady = SteadyClock::now();
        sent.unixNanos =
            duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
        if (SendTo(socket.Get(), request, sizeof request, address->ai_addr, addressLength) !=
            static_cast<long long>(sizeof request)) {
            error = LastSocketError();
            continue;
        }
        const SteadyClock::time_point deadline = sent.steady + std::chrono::milliseconds(timeoutMs);
        return AwaitReply(socket.Get(), address->ai_addr, origin, sent, deadline, result);
    }
    if (!usable) return NTP_E_RESOLVE;
    result.systemError = error;
    return NTP_E_SOCKET;
}

int QueryNoThrow(const wchar_t* server, std::size_t length, unsigned int timeoutMs,
                 NtpResult& result) noexcept {
    try {
        return Query(server, length, timeoutMs == 0 ? NTP_DEFAULT_TIMEOUT_MS : timeoutMs, result);
    } catch (...) {
        return NTP_E_INTERNAL;
    }
}

}  // namespace
}  // namespace Ovra::Ntp

extern "C" int GetNtpTimeEx(const wchar_t* server, unsigned int timeoutMs, NtpResult* result) {
    if (result == nullptr) return NTP_E_BAD_ARGUMENT;
    *result = NtpResult{};
    if (server == nullptr) return NTP_E_BAD_ARGUMENT;
    // Bounded: an unterminated buffer is not read beyond the longest name we accept.
    std::size_t length = 0;
    while (length <= Ovra::Ntp::kMaxServerLength && server[length] != L'\0') ++length;
    return Ovra::Ntp::QueryNoThrow(server, length, timeoutMs, *result);
}

extern "C" int GetNtpTime(const std::wstring& server, long long& time) {
    NtpResult result{};
    // The full length, so that an embedded NUL is rejected rather than cutting the name short.
    const int code =
        Ovra::Ntp::QueryNoThrow(server.data(), server.size(), NTP_DEFAULT_TIMEOUT_MS, result);
    if (code == NTP_OK) time = result.timeMs;
    return code;
}

extern "C" const char* NtpStatusText(int code) {
    switch (code) {
        case NTP_OK:
            return "success";
        case NTP_E_BAD_ARGUMENT:
            return "bad argument or unparsable server string";
        case NTP_E_RESOLVE:
            return "server name did not resolve";
        case NTP_E_SOCKET:
            return "socket error";
        case NTP_E_TIMEOUT:
            return "no reply before the time-out";
        case NTP_E_MALFORMED:
            return "malformed reply";
        case NTP_E_WRONG_SOURCE:
            return "reply from another address or port";
        case NTP_E_ORIGIN_MISMATCH:
            return "reply does not answer our request (origin timestamp)";
        case NTP_E_ZERO_TRANSMIT:
            return "reply has no transmit timestamp";
        case NTP_E_KISS_OF_DEATH:
            return "server sent Kiss-o'-Death";
        case NTP_E_UNSYNCHRONIZED:
            return "server clock is not synchronised";
        case NTP_E_BAD_STRATUM:
            return "invalid stratum";
        case NTP_E_INTERNAL:
            return "internal error";
        default:
            return "unknown code";
    }
}
