#include "ServerName.h"

#include <utility>

namespace Ovra::Ntp {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

bool ParsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool ParseServerName(const wchar_t* text, std::size_t length, ServerName& out) {
    if (text == nullptr) return false;
    std::size_t begin = 0;
    std::size_t end = length;
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end || end - begin > kMaxServerLength) return false;

    std::string ascii;
    ascii.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        // Also rejects embedded NULs, which would silently shorten the name for the resolver.
        if (text[i] <= 0x20 || text[i] >= 0x7f) return false;
        ascii.push_back(static_cast<char>(text[i]));
    }

    ServerName name;
    if (ascii[0] == '[') {
        const std::size_t close = ascii.find(']');
        if (close == std::string::npos || close == 1) return false;
        name.host = ascii.substr(1, close - 1);
        if (name.host.find('[') != std::string::npos) return false;
        const std::string rest = ascii.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !ParsePort(rest.substr(1), name.port))) {
            return false;
        }
        name.ipv6Literal = true;
    } else {
        if (ascii.find_first_of("[]") != std::string::npos) return false;
        const std::size_t colon = ascii.find(':');
        if (colon == std::string::npos) {
            name.host = ascii;
        } else if (ascii.find(':', colon + 1) != std::string::npos) {
            name.host = ascii;  // several colons: an IPv6 literal, which cannot carry a port
            name.ipv6Literal = true;
        } else {
            if (colon == 0 || !ParsePort(ascii.substr(colon + 1), name.port)) return false;
            name.host = ascii.substr(0, colon);
        }
    }
    out = std::move(name);
    return true;
}

}  // namespace Ovra::Ntp
