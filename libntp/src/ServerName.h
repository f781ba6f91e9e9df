#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Ovra::Ntp {

struct ServerName {
    std::string host;  // ASCII, without brackets
    std::uint16_t port = 123;
    // Written as an IPv6 literal ("[::1]", "::1"): resolve numerically, IPv6 only.
    bool ipv6Literal = false;
};

constexpr std::size_t kMaxServerLength = 1024;

// Splits "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 literal. False if the text is
// empty, not ASCII, holds blanks or control characters inside, or has a bad port (not 1..65535).
bool ParseServerName(const wchar_t* text, std::size_t length, ServerName& out);

}  // namespace Ovra::Ntp
