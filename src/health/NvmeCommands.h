#pragma once

// NVMe through the Windows storage requests: Identify and log pages through the protocol-specific
// property query, admin commands without data through IOCTL_STORAGE_PROTOCOL_COMMAND.

#include "base/platform/WinIoctl.h"
#include "src/ata/DiskDevice.h"

#include <cstdint>
#include <vector>

namespace Ovra {
namespace health {

using platform::kNvmeDataTypeIdentify;
using platform::kNvmeDataTypeLogPage;
const std::uint32_t kNvmeIdentifyController = 1;  // CNS 01h
// Log pages: Error Information, SMART / Health Information, Device Self-test.
const std::uint32_t kNvmeLogErrors = 1;
const std::uint32_t kNvmeLogHealth = 2;
const std::uint32_t kNvmeLogSelfTest = 6;
// Device Self-test codes (CDW10) beyond the kinds: stop the running test.
const std::uint32_t kNvmeAbortSelfTest = 0xF;

// The device refused the request, or answered something that cannot be its data.
enum class Answer { Data, Refused, Malformed };

// `length` bytes of NVMe data of `dataType` (Identify or log page) for `value` (CNS or log id):
// the device's property first, then the adapter's, which some drivers answer instead.
Answer QueryNvme(ata::DiskDevice& device, std::uint32_t dataType, std::uint32_t value,
                 std::uint32_t length, std::vector<std::uint8_t>& data);

// Device Self-test (admin 14h) on every namespace with `code` in CDW10; false when the request
// or the controller refused it.
bool NvmeDeviceSelfTest(ata::DiskDevice& device, std::uint32_t code);

}  // namespace health
}  // namespace Ovra
