#include "fakes/smart/FakeSmartDisk.h"

#include <cstring>

namespace Ovra {
namespace fakes {

namespace {

const std::size_t kEntryOffset = 2;
const std::size_t kEntrySize = 12;
const std::size_t kEntryCount = 30;
const std::size_t kReplyHead = 16;  // SENDCMDOUTPARAMS up to its data buffer
const std::uint32_t kErrorGenFailure = 31;

// 0xC2 is itself a monitored id: a walk past the 30th entry would report it.
const std::uint8_t kNoise = 0xC2;

SmartPageBytes NoisePage() {
    SmartPageBytes page;
    page.fill(kNoise);
    page[0] = 0x10;  // revision
    page[1] = 0x00;
    return page;
}

std::uint8_t* Entry(SmartPageBytes& page, std::size_t i) {
    return page.data() + kEntryOffset + i * kEntrySize;
}

}  // namespace

SmartPageBytes BuildAttributePage(const std::vector<SmartAttributeEntry>& entries) {
    SmartPageBytes page = NoisePage();
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        std::uint8_t* entry = Entry(page, i);
        const SmartAttributeEntry e = i < entries.size() ? entries[i] : SmartAttributeEntry{};
        entry[0] = e.id;
        entry[1] = static_cast<std::uint8_t>(e.flags & 0xFF);
        entry[2] = static_cast<std::uint8_t>(e.flags >> 8);
        entry[3] = e.value;
        entry[4] = e.worst;
        for (std::size_t b = 5; b < kEntrySize; ++b) entry[b] = static_cast<std::uint8_t>(0xA0 + b);
    }
    return page;
}

SmartPageBytes BuildThresholdPage(const std::vector<SmartThresholdEntry>& entries) {
    SmartPageBytes page = NoisePage();
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        std::uint8_t* entry = Entry(page, i);
        const SmartThresholdEntry e = i < entries.size() ? entries[i] : SmartThresholdEntry{};
        entry[0] = e.id;
        entry[1] = e.threshold;
        for (std::size_t b = 2; b < kEntrySize; ++b) entry[b] = static_cast<std::uint8_t>(0xB0 + b);
    }
    return page;
}

FakeSmartDisk::FakeSmartDisk(std::vector<SmartAttributeEntry> attributes,
                             std::vector<SmartThresholdEntry> thresholds)
    : m_attributePage(BuildAttributePage(attributes)),
      m_thresholdPage(BuildThresholdPage(thresholds)) {}

void FakeSmartDisk::SetCapabilities(std::uint32_t capabilities) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capabilities = capabilities;
}

void FakeSmartDisk::FailVersion() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failVersion = true;
}

void FakeSmartDisk::FailFeatures(std::uint8_t features) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failFeatures.insert(features);
}

std::vector<std::uint8_t> FakeSmartDisk::FeaturesSeen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_featuresSeen;
}

std::vector<std::string> FakeSmartDisk::Problems() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problems;
}

int FakeSmartDisk::Refuse(const std::string& problem, std::uint32_t* error) {
    m_problems.push_back(problem);
    *error = platform::kErrorInvalidParameter;
    return 0;
}

int FakeSmartDisk::Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                           std::uint32_t outSize, std::uint32_t* bytesReturned,
                           std::uint32_t* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    *bytesReturned = 0;
    switch (code) {
        case kSmartGetVersionCode:
            return AnswerVersion(in, inSize, out, outSize, bytesReturned, error);
        case kSmartSendDriveCommandCode:
        case kSmartRcvDriveDataCode:
            return AnswerCommand(code, in, inSize, out, outSize, bytesReturned, error);
        default:
            *error = platform::kErrorNotSupported;
            return 0;
    }
}

int FakeSmartDisk::AnswerVersion(const void* in, std::uint32_t inSize, void* out,
                                 std::uint32_t outSize, std::uint32_t* bytesReturned,
                                 std::uint32_t* error) {
    if (in != nullptr || inSize != 0) return Refuse("version: unexpected input", error);
    if (out == nullptr || outSize != 24) return Refuse("version: output is not 24 bytes", error);
    if (m_failVersion) {
        *error = platform::kErrorNotSupported;
        return 0;
    }
    std::uint8_t reply[24] = {1, 1, 0, 1};  // version, revision, reserved, device map
    std::memcpy(reply + 4, &m_capabilities, 4);
    std::memcpy(out, reply, sizeof(reply));
    *bytesReturned = sizeof(reply);
    return 1;
}

int FakeSmartDisk::AnswerCommand(std::uint32_t code, const void* in, std::uint32_t inSize,
                                 void* out, std::uint32_t outSize, std::uint32_t* bytesReturned,
                                 std::uint32_t* error) {
    if (in == nullptr || inSize != 33) return Refuse("command: input is not 33 bytes", error);
    std::uint8_t command[33];
    std::memcpy(command, in, sizeof(command));
    const std::uint8_t features = command[4];
    m_featuresSeen.push_back(features);
    // Sector count, sector number, cylinder low/high, drive/head, command.
    const std::uint8_t registers[] = {1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
    if (std::memcmp(command + 5, registers, sizeof(registers)) != 0) {
        return Refuse("command: not a SMART register block", error);
    }
    std::uint32_t bufferSize;
    std::memcpy(&bufferSize, command, 4);

    const SmartPageBytes* page = nullptr;
    if (code == kSmartSendDriveCommandCode) {
        if (features != 0xD8) return Refuse("send: not ENABLE_SMART", error);
        if (bufferSize != 0 || out == nullptr || outSize != 17) {
            return Refuse("send: wrong buffer sizes", error);
        }
    } else {
        if (features == 0xD0) {
            page = &m_attributePage;
        } else if (features == 0xD1) {
            page = &m_thresholdPage;
        } else {
            return Refuse("receive: unknown features", error);
        }
        if (bufferSize != 512 || out == nullptr || outSize != kReplyHead + 512) {
            return Refuse("receive: wrong buffer sizes", error);
        }
    }
    if (m_failFeatures.count(features)) {
        // A failing driver may leave anything in the buffer; none of it may be used.
        std::memset(out, kNoise, outSize);
        *error = kErrorGenFailure;
        return 0;
    }
    auto* reply = static_cast<std::uint8_t*>(out);
    std::memset(reply, 0, outSize);
    if (page) {
        const std::uint32_t size = 512;
        std::memcpy(reply, &size, 4);
        std::memcpy(reply + kReplyHead, page->data(), page->size());
        *bytesReturned = outSize;
    } else {
        *bytesReturned = kReplyHead;
    }
    return 1;
}

}  // namespace fakes
}  // namespace Ovra
