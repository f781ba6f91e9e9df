#pragma once

// A simulated physical disk that answers the SMART requests from tables the test gives.

#include "fakes/FakePlatform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace Ovra {
namespace fakes {

const std::uint32_t kSmartGetVersionCode = 0x00074080;
const std::uint32_t kSmartSendDriveCommandCode = 0x0007C084;
const std::uint32_t kSmartRcvDriveDataCode = 0x0007C088;

// One 12-byte entry of the attribute page; id 0 is an empty entry.
struct SmartAttributeEntry {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t value;
    std::uint8_t worst;
};

// One 12-byte entry of the threshold page; id 0 is an empty entry.
struct SmartThresholdEntry {
    std::uint8_t id;
    std::uint8_t threshold;
};

using SmartPageBytes = std::array<std::uint8_t, 512>;

// The pages as a drive returns them. Only the first 30 entries fit. Every byte that a reader must
// not look at (revision, raw values, reserved bytes, the tail after the entries) is filled with
// noise, so a reader that is off by a byte reports wrong values.
SmartPageBytes BuildAttributePage(const std::vector<SmartAttributeEntry>& entries);
SmartPageBytes BuildThresholdPage(const std::vector<SmartThresholdEntry>& entries);


class FakeSmartDisk : public FakeDevice {
public:
    FakeSmartDisk(std::vector<SmartAttributeEntry> attributes,
                  std::vector<SmartThresholdEntry> thresholds);

    // fCapabilities of the version reply (default 0x07: IDE ID, ATAPI ID, SMART commands).
    void SetCapabilities(std::uint32_t capabilities);
    // Requests that fail: the version query, or commands with a given features byte (0xD8 enable,
    // 0xD0 attributes, 0xD1 thresholds).
    void FailVersion();
    void FailFeatures(std::uint8_t features);

    // Features byte of every command received, in order.
    std::vector<std::uint8_t> FeaturesSeen() const;
    // Requests refused as malformed (wrong sizes, wrong registers); empty when all were
    // well-formed.
    std::vector<std::string> Problems() const;

    int Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error) override;

private:
    int Refuse(const std::string& problem, std::uint32_t* error);
    int AnswerVersion(const void* in, std::uint32_t inSize, void* out, std::uint32_t outSize,
                      std::uint32_t* bytesReturned, std::uint32_t* error);
    int AnswerCommand(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                      std::uint32_t outSize, std::uint32_t* bytesReturned, std::uint32_t* error);

    mutable std::mutex m_mutex;
    SmartPageBytes m_attributePage;
    SmartPageBytes m_thresholdPage;
    std::uint32_t m_capabilities = 0x07;
    bool m_failVersion = false;
    std::set<std::uint8_t> m_failFeatures;
    std::vector<std::uint8_t> m_featuresSeen;
    std::vector<std::string> m_problems;
};

}  // namespace fakes
}  // namespace Ovra
