#include "tests/fakes/smart/FakeSmartDisk.h"

#include <cstring>

namespace Ovra {
namespace fakes {

namespace {

const std::uint32_t kGetVersion = 0x00074080;
const std::uint32_t kSendDriveCommand = 0x0007C084;
const std::size_t kEntrySize = 12;
const std::size_t kReplyHead = 16;  // SENDCMDOUTPARAMS up to its data buffer

// 0xC2 is itself a monitored id: a walk past the 30th entry would report it.
const std::uint8_t kNoise = 0xC2;

// Each entry: the given leading bytes, then filler that differs per byte.
template <typename Entry, typename Fill>
SmartPageBytes BuildPage(const std::vector<Entry>& entries, Fill fill) {
    SmartPageBytes page;
    page.fill(kNoise);
    page[0] = 0x10;  // revision
    page[1] = 0x00;
    for (std::size_t i = 0; i < 30; ++i) {
        std::uint8_t* entry = page.data() + 2 + i * kEntrySize;
        fill(i < entries.size() ? entries[i] : Entry{}, entry);
    }
    return page;
}

}  // namespace

FakeSmartDisk::FakeSmartDisk(const std::vector<SmartAttributeEntry>& attributes,
                             const std::vector<SmartThresholdEntry>& thresholds)
    : m_attributePage(BuildPage(attributes,
                                [](const SmartAttributeEntry& e, std::uint8_t* at) {
                                    const std::uint8_t head[] = {
                                        e.id, static_cast<std::uint8_t>(e.flags & 0xFF),
                                        static_cast<std::uint8_t>(e.flags >> 8), e.value, e.worst};
                                    std::memcpy(at, head, sizeof head);
                                    for (std::size_t b = sizeof head; b < kEntrySize; ++b)
                                        at[b] = 0xA0 + b;
                                })),
      m_thresholdPage(BuildPage(thresholds, [](const SmartThresholdEntry& e, std::uint8_t* at) {
          at[0] = e.id;
          at[1] = e.threshold;
          for (std::size_t b = 2; b < kEntrySize; ++b) at[b] = 0xB0 + b;
      })) {}

int FakeSmartDisk::Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                           std::uint32_t outSize, std::uint32_t* bytesReturned,
                           std::uint32_t* error) {
    *bytesReturned = 0;
    *error = platform::kErrorInvalidParameter;
    if (code == kGetVersion) {
        if (outSize < 24) return 0;
        if (failVersion) return (*error = platform::kErrorNotSupported), 0;
        std::uint8_t reply[24] = {1, 1, 0, 1};  // version, revision, reserved, device map
        std::memcpy(reply + 4, &capabilities, 4);
        std::memcpy(out, reply, sizeof reply);
        *bytesReturned = sizeof reply;
        return 1;
    }
    // The exact request bytes are checked by the tests; here only what keeps the answer in bounds.
    if (inSize < 5 || outSize < kReplyHead) return 0;
    const std::uint8_t features = static_cast<const std::uint8_t*>(in)[4];
    const SmartPageBytes* page = features == 0xD0   ? &m_attributePage
                                 : features == 0xD1 ? &m_thresholdPage
                                                    : nullptr;
    if (page && outSize < kReplyHead + 512) return 0;
    if (failFeatures.count(features)) {
        // A failing driver may leave anything in the buffer; none of it may be used.
        std::memset(out, kNoise, outSize);
        return (*error = 31), 0;  // ERROR_GEN_FAILURE
    }
    auto* reply = static_cast<std::uint8_t*>(out);
    std::memset(reply, 0, outSize);
    *bytesReturned = kReplyHead;
    if (page && code != kSendDriveCommand) {
        const std::uint32_t size = 512;
        std::memcpy(reply, &size, 4);
        std::memcpy(reply + kReplyHead, page->data(), page->size());
        *bytesReturned = outSize;
    }
    return 1;
}

}  // namespace fakes
}  // namespace Ovra
