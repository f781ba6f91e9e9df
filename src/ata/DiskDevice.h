#pragma once

// A physical disk opened for device requests: the one way the SMART monitor, the health reading
// and the self-tests open a disk. It is closed when the object goes, on every path.

#include "base/platform/DeviceHandle.h"

#include <cstdint>
#include <string>

namespace Ovra {
namespace ata {

class DiskDevice {
public:
    // Read and write access, shared, as the SMART requests need. `number` is the disk's number;
    // its low 8 bits go into every ATA command block.
    DiskDevice(const std::wstring& path, long long number)
        : m_handle(platform::Sys().CreateFileW(
              path.c_str(), platform::kGenericRead | platform::kGenericWrite,
              platform::kFileShareReadWrite, platform::kOpenExisting, 0)),
          m_drive(static_cast<std::uint8_t>(number & 0xFF)) {}
    ~DiskDevice() {
        if (IsOpen()) platform::Sys().CloseHandle(m_handle);
    }
    DiskDevice(const DiskDevice&) = delete;
    DiskDevice& operator=(const DiskDevice&) = delete;

    // A null handle is no failed open: the SMART monitor answers the two differently.
    bool OpenFailed() const { return m_handle == platform::InvalidHandle(); }
    bool IsOpen() const { return m_handle != nullptr && !OpenFailed(); }
    std::uint8_t DriveNumber() const { return m_drive; }

    // DeviceIoControl on the disk; `returned` (optional) receives the bytes written.
    bool Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize, std::uint32_t* returned = nullptr) {
        std::uint32_t ignored = 0;
        return platform::Sys().DeviceIoControl(m_handle, code, in, inSize, out, outSize,
                                               returned ? returned : &ignored) != 0;
    }

private:
    platform::Handle m_handle;
    std::uint8_t m_drive;
};

}  // namespace ata
}  // namespace Ovra
