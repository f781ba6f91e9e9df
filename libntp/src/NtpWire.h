#pragma once

// The NTP packet as it travels, and the timestamp arithmetic. Pure functions over bytes: no
// sockets, no clock, so that any datagram can be fed to them.

#include <cstddef>
#include <cstdint>

namespace Ovra::Ntp {

constexpr std::size_t kPacketSize = 48;
// Seconds from 1900-01-01 (NTP epoch) to 1970-01-01 (Unix epoch).
constexpr std::int64_t kNtpToUnixSeconds = 2208988800;

struct Reply {
    unsigned leap = 0;
    unsigned version = 0;
    unsigned mode = 0;
    unsigned stratum = 0;
    int poll = 0;
    int precision = 0;
    std::uint32_t rootDelay = 0;       // 16.16 fixed-point seconds
    std::uint32_t rootDispersion = 0;  // 16.16 fixed-point seconds
    std::uint32_t referenceId = 0;
    std::uint64_t referenceTime = 0;  // 32.32 fixed-point NTP timestamps
    std::uint64_t originTime = 0;
    std::uint64_t receiveTime = 0;
    std::uint64_t transmitTime = 0;
    char kissCode[5] = {};
    // The datagram is long enough and its origin is our transmit timestamp: it answers our request
    // and its verdict is final. Otherwise it is someone else's and the caller keeps waiting.
    bool originMatched = false;
};

// A client request (LI 0, VN 4, mode 3) carrying `transmit` as its transmit timestamp.
void BuildRequest(std::uint64_t transmit, std::uint8_t (&packet)[kPacketSize]);

// Decodes and checks a server's datagram of `length` bytes (never reads past it). Returns an
// NtpStatus code; `reply` holds whatever could be decoded.
int ParseReply(const std::uint8_t* data, std::size_t length, std::uint64_t expectedOrigin,
               Reply& reply);

// Unix nanoseconds to a 32.32 NTP timestamp (the era is dropped, as on the wire).
std::uint64_t UnixNanosToNtp(std::int64_t unixNanos);

// A 32.32 NTP timestamp to Unix nanoseconds, taking the era (136-year wrap of the seconds, the
// first in 2036) that puts it nearest to `referenceUnixNanos`, normally the local clock.
std::int64_t NtpToUnixNanos(std::uint64_t ntp, std::int64_t referenceUnixNanos);

// A 16.16 fixed-point NTP short (root delay, root dispersion) to nanoseconds.
std::int64_t NtpShortToNanos(std::uint32_t value);

}  // namespace Ovra::Ntp
