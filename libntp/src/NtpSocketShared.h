#pragma once

// Address handling that both socket backends share: it defines the address functions of
// NtpSocket.h for the one backend that a build compiles, which includes it after its system's
// socket headers (they declare everything used here under the same names).

#include "libntp/src/NtpSocket.h"

#include <ntp/Ntp.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace Ovra::Ntp {

static_assert(alignof(ServerAddress) >= alignof(sockaddr_storage) &&
                  sizeof(ServerAddress::bytes) >= sizeof(sockaddr_storage),
              "a sockaddr is read in place");

inline const sockaddr* AsSockaddr(const ServerAddress& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes);
}

int ResolveServer(const ServerName& name, std::vector<ServerAddress>& addresses, int& systemError) {
    addrinfo hints{};
    hints.ai_family = name.ipv6Literal ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = name.ipv6Literal ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(name.port);
    if (const int error = getaddrinfo(name.host.c_str(), port.c_str(), &hints, &found)) {
        systemError = error;
        // A literal that does not parse is the caller's mistake, not the resolver's.
        return name.ipv6Literal ? NTP_E_BAD_ARGUMENT : NTP_E_RESOLVE;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) ||
            a->ai_addrlen > sizeof(ServerAddress::bytes)) {
            continue;
        }
        ServerAddress address;
        std::memcpy(address.bytes, a->ai_addr, a->ai_addrlen);
        address.length = static_cast<unsigned>(a->ai_addrlen);
        addresses.push_back(address);
    }
    return addresses.empty() ? NTP_E_RESOLVE : NTP_OK;
}

void DescribeAddress(const ServerAddress& address, char (&out)[64]) {
    char host[64];
    char port[8];
    out[0] = '\0';
    if (getnameinfo(AsSockaddr(address), static_cast<socklen_t>(address.length), host, sizeof host,
                    port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return;
    }
    const char* format = AsSockaddr(address)->sa_family == AF_INET6 ? "[%s]:%s" : "%s:%s";
    const int written = std::snprintf(out, sizeof out, format, host, port);
    if (written < 0 || written >= static_cast<int>(sizeof out)) out[0] = '\0';
}

inline bool SameEndpoint(const sockaddr_storage& from, const ServerAddress& server) {
    const int family = AsSockaddr(server)->sa_family;
    if (from.ss_family != family) return false;
    if (family == AF_INET) {
        sockaddr_in a;
        sockaddr_in b;
        std::memcpy(&a, &from, sizeof a);
        std::memcpy(&b, server.bytes, sizeof b);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    sockaddr_in6 a;
    sockaddr_in6 b;
    std::memcpy(&a, &from, sizeof a);
    std::memcpy(&b, server.bytes, sizeof b);
    return a.sin6_port == b.sin6_port &&
           std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
}

// The wildcard address of the server's family, any port.
inline sockaddr_storage AnyLocalAddress(const ServerAddress& server, socklen_t& length) {
    sockaddr_storage local{};
    local.ss_family = AsSockaddr(server)->sa_family;
    length = local.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return local;
}

}  // namespace Ovra::Ntp
