// The socket backend on POSIX systems.
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "libntp/src/NtpSocketShared.h"

#include <algorithm>
#include <cerrno>
#include <climits>

namespace Ovra::Ntp {

int StartSockets() {
    return 0;
}

UdpSocket::UdpSocket(const ServerAddress& server) : m_server(server) {
    // CLOEXEC: a child spawned by another thread of the host must not inherit it.
    const int s = socket(AsSockaddr(server)->sa_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         IPPROTO_UDP);
    if (s < 0) {
        m_error = errno;
        return;
    }
    socklen_t length = 0;
    const sockaddr_storage local = AnyLocalAddress(server, length);
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        m_error = errno;
        close(s);
        return;
    }
    m_handle = static_cast<std::uintptr_t>(s);
    m_valid = true;
}

UdpSocket::~UdpSocket() {
    if (m_valid) close(static_cast<int>(m_handle));
}

bool UdpSocket::Send(const std::uint8_t* data, std::size_t length) {
    const ssize_t sent =
        sendto(static_cast<int>(m_handle), data, length, 0, AsSockaddr(m_server), m_server.length);
    if (sent == static_cast<ssize_t>(length)) return true;
    m_error = errno;
    return false;
}

UdpSocket::Received UdpSocket::Receive(std::uint8_t* buffer, std::size_t size,
                                       SteadyClock::time_point deadline, std::size_t& length,
                                       bool& fromServer) {
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (now >= deadline) return Received::kTimedOut;
        const long long millis =
            (std::chrono::nanoseconds(deadline - now).count() + 999999) / 1000000;
        pollfd entry{};
        entry.fd = static_cast<int>(m_handle);
        entry.events = POLLIN;
        const int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(millis, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            m_error = errno;
            return Received::kFailed;
        }
        if (ready <= 0) continue;

        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received = recvfrom(static_cast<int>(m_handle), buffer, size, 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            // ECONNREFUSED: an ICMP port-unreachable for the request, not an answer; keep waiting.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNREFUSED)
                continue;
            m_error = errno;
            return Received::kFailed;
        }
        length = static_cast<std::size_t>(received);
        fromServer = SameEndpoint(from, m_server);
        return Received::kDatagram;
    }
}

}  // namespace Ovra::Ntp
