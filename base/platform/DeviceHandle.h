#pragma once

// A device opened through the seam and closed when it goes out of scope: no handle outlives the
// call that opened it.

#include "base/platform/Platform.h"

#include <string>

namespace Ovra {
namespace platform {

const std::uint32_t kGenericRead = 0x80000000;
const std::uint32_t kGenericWrite = 0x40000000;
const std::uint32_t kFileShareReadWrite = 0x00000003;  // FILE_SHARE_READ | FILE_SHARE_WRITE
const std::uint32_t kOpenExisting = 3;

class DeviceHandle {
public:
    // Opens an existing device shared for reading and writing, as every device query does.
    DeviceHandle(const std::wstring& path, std::uint32_t access)
        : m_handle(Sys().CreateFileW(path.c_str(), access, kFileShareReadWrite, kOpenExisting, 0)) {
        if (m_handle == InvalidHandle()) m_handle = nullptr;
    }
    ~DeviceHandle() {
        if (m_handle) Sys().CloseHandle(m_handle);
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    bool IsOpen() const { return m_handle != nullptr; }
    // DeviceIoControl on the device; `returned` (optional) receives the bytes written.
    bool Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize, std::uint32_t* returned = nullptr) {
        std::uint32_t ignored = 0;
        return Sys().DeviceIoControl(m_handle, code, in, inSize, out, outSize,
                                     returned ? returned : &ignored) != 0;
    }

private:
    Handle m_handle;
};

// The disk services look at physical disks 0 to 31.
const unsigned kPhysicalDriveCount = 32;

// The path of physical disk `number`: \\.\PHYSICALDRIVEn.
inline std::wstring PhysicalDrivePath(unsigned long long number) {
    return L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(number);
}

}  // namespace platform
}  // namespace Ovra
