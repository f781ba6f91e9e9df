#pragma once

// The sockets of a query. One backend per platform (NtpSocketPosix.cpp, NtpSocketWin32.cpp) is
// picked by the build; nothing above this header sees a system socket type.

#include "libntp/src/ServerName.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Ovra::Ntp {

using SteadyClock = std::chrono::steady_clock;

// A resolved server address: a sockaddr of the backend's, IPv4 or IPv6. It is read in place, so
// it is aligned as sockaddr_storage is; the union does that without an alignment specifier, whose
// padding MSVC warns about (C4324).
struct ServerAddress {
    union {
        unsigned char bytes[128] = {};
        std::uint64_t alignment;
    };
    unsigned length = 0;
};

// Readies the platform's sockets once per process: 0, or the system's error code.
int StartSockets();

// The IPv4 and IPv6 addresses of `name`, in the resolver's order. An NtpStatus code; on failure
// `systemError` is the resolver's code.
int ResolveServer(const ServerName& name, std::vector<ServerAddress>& addresses, int& systemError);

// The numeric address and port, "127.0.0.1:123" or "[::1]:123"; empty when it cannot be written.
void DescribeAddress(const ServerAddress& address, char (&out)[64]);

// A non-blocking UDP socket for one exchange with `server`, bound to any local port. Unconnected
// on purpose: a connected socket would have the kernel drop datagrams from other sources unseen,
// and we report those.
class UdpSocket {
public:
    enum class Received { kDatagram, kTimedOut, kFailed };

    explicit UdpSocket(const ServerAddress& server);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Valid() const { return m_valid; }
    // The system's code of the last failure.
    int Error() const { return m_error; }
    bool Send(const std::uint8_t* data, std::size_t length);
    // Waits until `deadline` for one datagram of at most `size` bytes. Transient errors are waited
    // through. On kDatagram, `length` is its size and `fromServer` tells whether it came from the
    // server's address and port.
    Received Receive(std::uint8_t* buffer, std::size_t size, SteadyClock::time_point deadline,
                     std::size_t& length, bool& fromServer);

private:
    const ServerAddress& m_server;
    std::uintptr_t m_handle = 0;
    bool m_valid = false;
    int m_error = 0;
};

}  // namespace Ovra::Ntp
