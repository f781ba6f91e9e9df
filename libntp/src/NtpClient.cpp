// The query: one request, the wait for its answer, and the exported entry points. The sockets
// are behind NtpSocket.h.
#include <ntp/Ntp.h>

#include "libntp/src/NtpSocket.h"
#include "libntp/src/NtpWire.h"
#include "libntp/src/ServerName.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace Ovra::Ntp {
namespace {

using std::chrono::duration_cast;
using std::chrono::nanoseconds;

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

int AwaitReply(UdpSocket& socket, std::uint64_t origin, const SendTime& sent,
               SteadyClock::time_point deadline, NtpResult& result) {
    int pending = NTP_E_TIMEOUT;
    std::uint8_t buffer[1024];
    for (;;) {
        std::size_t length = 0;
        bool fromServer = false;
        const UdpSocket::Received received =
            socket.Receive(buffer, sizeof buffer, deadline, length, fromServer);
        const SteadyClock::time_point arrival = SteadyClock::now();
        if (received == UdpSocket::Received::kTimedOut) return pending;
        if (received == UdpSocket::Received::kFailed) {
            result.systemError = socket.Error();
            return NTP_E_SOCKET;
        }

        int verdict = NTP_E_WRONG_SOURCE;
        if (fromServer) {
            Reply reply;
            verdict = ParseReply(buffer, length, origin, reply);
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
    std::vector<ServerAddress> addresses;
    if (const int code = ResolveServer(name, addresses, result.systemError)) return code;

    // One request, to the first address we can send to.
    int error = 0;
    for (const ServerAddress& address : addresses) {
        UdpSocket socket(address);
        if (!socket.Valid()) {
            error = socket.Error();
            continue;
        }
        DescribeAddress(address, result.address);

        const std::uint64_t origin = RandomTransmitTimestamp();
        std::uint8_t request[kPacketSize];
        BuildRequest(origin, request);
        SendTime sent;
        sent.steady = SteadyClock::now();
        sent.unixNanos =
            duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
        if (!socket.Send(request, sizeof request)) {
            error = socket.Error();
            continue;
        }
        const SteadyClock::time_point deadline = sent.steady + std::chrono::milliseconds(timeoutMs);
        return AwaitReply(socket, origin, sent, deadline, result);
    }
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
