// Any datagram through the SNTP reply parser, and any transmit time through the era arithmetic:
// nothing may read past the length given (libFuzzer hands over an exact-size copy, which
// AddressSanitizer guards) or overflow. The verdicts themselves are NtpTest's table.
#include "libntp/src/NtpWire.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t origin = 0;
    std::memcpy(&origin, data, 8);  // the first bytes choose the origin we "sent"
    Ovra::Ntp::Reply reply;
    Ovra::Ntp::ParseReply(data + 8, size - 8, origin, reply);
    // Any local clock within two centuries of 1970, as the client's reference for the era.
    const std::int64_t reference = static_cast<std::int64_t>(origin % 6311390400000000000ULL);
    Ovra::Ntp::NtpToUnixNanos(reply.transmitTime, reference);
    return 0;
}
