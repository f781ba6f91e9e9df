// Any datagram through the SNTP reply parser: it must never read past the length it is given
// (AddressSanitizer sees the exact-size copy) and must agree with itself on the origin check.
#include "libntp/src/NtpWire.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t origin = 0;
    std::memcpy(&origin, data, 8);  // the first bytes choose the origin we "sent"
    const std::vector<std::uint8_t> datagram(data + 8, data + size);
    Ovra::Ntp::Reply reply;
    const int code = Ovra::Ntp::ParseReply(datagram.data(), datagram.size(), origin, reply);
    if (code == 0 && (!reply.originMatched || reply.mode != 4 || reply.transmitTime == 0 ||
                      reply.stratum == 0 || reply.stratum > 15 || reply.leap == 3))
        std::abort();  // accepted a reply that the client rules reject
    // Any local clock within two centuries of 1970, as the client's reference for the era.
    const std::int64_t reference = static_cast<std::int64_t>(origin % 6311390400000000000ULL);
    Ovra::Ntp::NtpToUnixNanos(reply.transmitTime, reference);
    return 0;
}
