#pragma once

// A blocking loopback UDP socket for the test servers.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <vector>

namespace NtpTest {

#ifdef _WIN32
using SocketHandle = SOCKET;
using AddressLength = int;
inline void CloseSocketHandle(SocketHandle s) {
    closesocket(s);
}
inline bool StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using SocketHandle = int;
using AddressLength = socklen_t;
inline void CloseSocketHandle(SocketHandle s) {
    close(s);
}
inline bool StartSockets() {
    return true;
}
#endif

class UdpSocket {
public:
    // Bound to 127.0.0.1 or ::1 on a port of the system's choosing; Valid() tells if it worked.
    explicit UdpSocket(int family) {
        if (!StartSockets()) return;
        m_handle = socket(family, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_storage local{};
        AddressLength length = 0;
        if (family == AF_INET6) {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&local);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_loopback;
            length = sizeof(sockaddr_in6);
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&local);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof(sockaddr_in);
        }
        if (bind(m_handle, reinterpret_cast<sockaddr*>(&local), length) != 0 ||
            getsockname(m_handle, reinterpret_cast<sockaddr*>(&m_local), &length) != 0) {
            CloseSocketHandle(m_handle);
            m_handle = SocketHandle(~0);
            return;
        }
        m_valid = true;
    }
    ~UdpSocket() {
        if (m_valid) CloseSocketHandle(m_handle);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Valid() const { return m_valid; }
    const sockaddr_storage& Local() const { return m_local; }
    std::uint16_t Port() const {
        return ntohs(m_local.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&m_local)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&m_local)->sin_port);
    }

    bool Receive(std::vector<std::uint8_t>& data, sockaddr_storage& from) {
        data.resize(2048);
        AddressLength length = sizeof from;
        const auto n =
            recvfrom(m_handle, reinterpret_cast<char*>(data.data()), static_cast<int>(data.size()),
                     0, reinterpret_cast<sockaddr*>(&from), &length);
        data.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return n >= 0;
    }
    void SendTo(const std::vector<std::uint8_t>& data, const sockaddr_storage& to) {
        const AddressLength length =
            to.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        sendto(m_handle, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()),
               0, reinterpret_cast<const sockaddr*>(&to), length);
    }

private:
    SocketHandle m_handle = SocketHandle(~0);
    sockaddr_storage m_local{};
    bool m_valid = false;
};

}  // namespace NtpTest
