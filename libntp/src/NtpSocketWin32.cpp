// The socket backend on Windows (Winsock 2).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "libntp/src/NtpSocketShared.h"

#include <algorithm>
#include <climits>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace Ovra::Ntp {

// Started once and never cleaned up: a WSACleanup while another thread queries would break it.
int StartSockets() {
    static const int status = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return status;
}

UdpSocket::UdpSocket(const ServerAddress& server) : m_server(server) {
    const SOCKET s = socket(AsSockaddr(server)->sa_family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        m_error = WSAGetLastError();
        return;
    }
    u_long nonBlocking = 1;
    socklen_t length = 0;
    const sockaddr_storage local = AnyLocalAddress(server, length);
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        m_error = WSAGetLastError();
        closesocket(s);
        return;
    }
    // Otherwise an ICMP port-unreachable for the request fails every later receive.
    BOOL report = FALSE;
    DWORD bytes = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);
    m_handle = static_cast<std::uintptr_t>(s);
    m_valid = true;
}

UdpSocket::~UdpSocket() {
    if (m_valid) closesocket(static_cast<SOCKET>(m_handle));
}

bool UdpSocket::Send(const std::uint8_t* data, std::size_t length) {
    const int sent = sendto(static_cast<SOCKET>(m_handle), reinterpret_cast<const char*>(data),
                            static_cast<int>(length), 0, AsSockaddr(m_server),
                            static_cast<int>(m_server.length));
    if (sent == static_cast<int>(length)) return true;
    m_error = WSAGetLastError();
    return false;
}

UdpSocket::Received UdpSocket::Receive(std::uint8_t* buffer, std::size_t size,
                                       SteadyClock::time_point deadline, std::size_t& length,
                                       bool& fromServer) {
    const SOCKET s = static_cast<SOCKET>(m_handle);
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (now >= deadline) return Received::kTimedOut;
        const long long micros = (std::chrono::nanoseconds(deadline - now).count() + 999) / 1000;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval limit;
        limit.tv_sec = static_cast<long>(std::min<long long>(micros / 1000000, LONG_MAX));
        limit.tv_usec = static_cast<long>(micros % 1000000);
        const int ready = select(0, &readable, nullptr, nullptr, &limit);
        if (ready < 0) {
            m_error = WSAGetLastError();
            return Received::kFailed;
        }
        if (ready == 0) continue;

        sockaddr_storage from{};
        int fromLength = sizeof from;
        const int received = recvfrom(s, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0) {
            const int error = WSAGetLastError();
            // WSAEMSGSIZE: a datagram too large for the buffer, so not an NTP reply.
            if (error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAECONNRESET ||
                error == WSAENETRESET || error == WSAEMSGSIZE) {
                continue;
            }
            m_error = error;
            return Received::kFailed;
        }
        length = static_cast<std::size_t>(received);
        fromServer = SameEndpoint(from, m_server);
        return Received::kDatagram;
    }
}

}  // namespace Ovra::Ntp
