#include "NtpWire.h"

#include <ntp/Ntp.h>

namespace Ovra::Ntp {
namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000;

std::uint32_t Load32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

std::uint64_t Load64(const std::uint8_t* p) {
    return (std::uint64_t{Load32(p)} << 32) | Load32(p + 4);
}

void Store64(std::uint64_t value, std::uint8_t* p) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

// A kiss code is up to four printable ASCII characters, NUL-padded.
bool IsKissCode(const std::uint8_t* refId) {
    if (refId[0] < 0x20 || refId[0] > 0x7e) return false;
    bool ended = false;
    for (int i = 1; i < 4; ++i) {
        if (refId[i] == 0) {
            ended = true;
        } else if (ended || refId[i] < 0x20 || refId[i] > 0x7e) {
            return false;
        }
    }
    return true;
}

}  // namespace

void BuildRequest(std::uint64_t transmit, std::uint8_t (&packet)[kPacketSize]) {
    for (auto& byte : packet) byte = 0;
    packet[0] = (0u << 6) | (4u << 3) | 3u;
    Store64(transmit, packet + 40);
}

int ParseReply(const std::uint8_t* data, std::size_t length, std::uint64_t expectedOrigin,
               Reply& reply) {
    reply = Reply{};
    if (data == nullptr || length < kPacketSize) return NTP_E_MALFORMED;

    reply.leap = data[0] >> 6;
    reply.version = (data[0] >> 3) & 7u;
    reply.mode = data[0] & 7u;
    reply.stratum = data[1];
    reply.poll = static_cast<std::int8_t>(data[2]);
    reply.precision = static_cast<std::int8_t>(data[3]);
    reply.rootDelay = Load32(data + 4);
    reply.rootDispersion = Load32(data + 8);
    reply.referenceId = Load32(data + 12);
    reply.referenceTime = Load64(data + 16);
    reply.originTime = Load64(data + 24);
    reply.receiveTime = Load64(data + 32);
    reply.transmitTime = Load64(data + 40);

    if (reply.originTime != expectedOrigin) return NTP_E_ORIGIN_MISMATCH;
    reply.originMatched = true;

    if (reply.version < 3 || reply.version > 4 || reply.mode != 4) return NTP_E_MALFORMED;
    if (reply.stratum == 0) {
        // Stratum 0 is "unspecified": a kiss code, or an unsynchronised server that has none.
        if (IsKissCode(data + 12)) {
            for (int i = 0; i < 4; ++i) reply.kissCode[i] = static_cast<char>(data[12 + i]);
            return NTP_E_KISS_OF_DEATH;
        }
        if (reply.leap != 3) return NTP_E_KISS_OF_DEATH;
    }
    if (reply.leap == 3) return NTP_E_UNSYNCHRONIZED;
    if (reply.stratum > 15) return NTP_E_BAD_STRATUM;
    if (reply.transmitTime == 0) return NTP_E_ZERO_TRANSMIT;
    // Without T2 the offset would be decades off; no server that has T3 lacks it.
    if (reply.receiveTime == 0) return NTP_E_MALFORMED;
    return NTP_OK;
}

std::uint64_t UnixNanosToNtp(std::int64_t unixNanos) {
    std::int64_t seconds = unixNanos / kNanosPerSecond;
    std::int64_t nanos = unixNanos % kNanosPerSecond;
    if (nanos < 0) {
        nanos += kNanosPerSecond;
        --seconds;
    }
    const auto ntpSeconds = static_cast<std::uint64_t>(seconds + kNtpToUnixSeconds) & 0xffffffffu;
    // Rounded to nearest, so that nanoseconds survive the round trip through 2^-32 s units.
    const std::uint64_t fraction =
        ((static_cast<std::uint64_t>(nanos) << 32) + kNanosPerSecond / 2) / kNanosPerSecond;
    return (ntpSeconds << 32) | fraction;
}

std::int64_t NtpToUnixNanos(std::uint64_t ntp, std::int64_t referenceUnixNanos) {
    std::int64_t refSeconds = referenceUnixNanos / kNanosPerSecond;
    if (referenceUnixNanos % kNanosPerSecond < 0) --refSeconds;
    const std::int64_t refNtpSeconds = refSeconds + kNtpToUnixSeconds;

    // The signed 32-bit distance from the reference's seconds modulo 2^32 picks the nearest era.
    const std::uint32_t wireSeconds = static_cast<std::uint32_t>(ntp >> 32);
    const std::uint32_t step = wireSeconds - static_cast<std::uint32_t>(refNtpSeconds);
    const std::int64_t distance =
        step >= 0x80000000u ? static_cast<std::int64_t>(step) - 0x100000000 : std::int64_t{step};
    const std::int64_t unixSeconds = refNtpSeconds + distance - kNtpToUnixSeconds;

    const std::uint64_t fraction = ntp & 0xffffffffu;
    const auto nanos = static_cast<std::int64_t>((fraction * kNanosPerSecond + 0x80000000u) >> 32);
    return unixSeconds * kNanosPerSecond + nanos;
}

std::int64_t NtpShortToNanos(std::uint32_t value) {
    return static_cast<std::int64_t>(((std::uint64_t{value} * kNanosPerSecond) + 0x8000u) >> 16);
}

}  // namespace Ovra::Ntp
