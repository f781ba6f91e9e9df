#pragma once

// The platform seam: every call this project makes into the operating system for devices,
// volumes, run-time loading, events and waits, the named mutex and the clock goes through the one
// `Platform` installed in the process. The Win32 backend passes the arguments to the real calls
// unchanged; the POSIX backend implements what Linux has and fails device and volume calls
// cleanly; tests install fakes (see tests/fakes) to record calls and inject failures.
//
// Entries keep the names, argument order and result conventions of the Win32 calls they stand
// for, so that code above the seam reads like the Windows code it is.

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/Export.h>
#include <Ovra/Bases/Wait.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Ovra {
namespace platform {

using Handle = void*;  // a device, event or mutex handle, as Windows' HANDLE
using Module = void*;  // a loaded library, as Windows' HMODULE

// INVALID_HANDLE_VALUE.
inline Handle InvalidHandle() {
    return reinterpret_cast<Handle>(~static_cast<std::uintptr_t>(0));
}

// Results of WaitForMultipleObjects.
const std::uint32_t kWaitObject0 = 0;
const std::uint32_t kWaitAbandoned0 = 0x80;
const std::uint32_t kWaitTimeout = 258;
const std::uint32_t kWaitFailed = 0xFFFFFFFF;
using ::Ovra::kInfinite;

// Windows error codes that the backends and fakes report through GetLastError.
const std::uint32_t kErrorFileNotFound = 2;
const std::uint32_t kErrorAccessDenied = 5;
const std::uint32_t kErrorInvalidHandle = 6;
const std::uint32_t kErrorNotSupported = 50;
const std::uint32_t kErrorInvalidParameter = 87;
const std::uint32_t kErrorModNotFound = 126;
const std::uint32_t kErrorProcNotFound = 127;

class OVRA_BASES_API Platform {
public:
    virtual ~Platform();

    // Devices (disks "\\.\PHYSICALDRIVEn", volumes "\\.\C:"). CreateFileW returns InvalidHandle()
    // on failure; the others return nonzero on success.
    virtual Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess,
                               std::uint32_t shareMode, std::uint32_t creationDisposition,
                               std::uint32_t flagsAndAttributes) = 0;
    virtual int DeviceIoControl(Handle device, std::uint32_t ioControlCode, const void* inBuffer,
                                std::uint32_t inBufferSize, void* outBuffer,
                                std::uint32_t outBufferSize, std::uint32_t* bytesReturned) = 0;
    virtual int CloseHandle(Handle handle) = 0;

    // Volumes. `label`/`fileSystemName` buffers and the out-pointers may be null, as in Win32.
    virtual std::uint32_t GetDriveTypeW(const wchar_t* rootPath) = 0;
    virtual int GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label,
                                      std::uint32_t labelSize, std::uint32_t* serialNumber,
                                      std::uint32_t* maxComponentLength,
                                      std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                                      std::uint32_t fileSystemNameSize) = 0;
    virtual int GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                                    std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) = 0;
    virtual int SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) = 0;
    // The roots the volume inventory asks about, in no particular order: A:\ to Z:\ on Windows
    // (whether or not a volume is there); on Linux the mount points of the file systems on block
    // devices, each with a trailing slash ("/", "/mnt/rec1/"). No Win32 call of this name.
    virtual std::vector<std::wstring> VolumeRoots() = 0;

    // Run-time loading. LoadLibraryW returns null on failure.
    virtual Module LoadLibraryW(const wchar_t* path) = 0;
    virtual void* GetProcAddress(Module module, const char* name) = 0;
    virtual int FreeLibrary(Module module) = 0;

    // Events and waiting. Events are closed with CloseHandle; DuplicateHandle gives a second
    // handle to the same event.
    virtual Handle CreateEventW(int manualReset, int initialState) = 0;
    virtual int SetEvent(Handle event) = 0;
    virtual int ResetEvent(Handle event) = 0;
    virtual Handle DuplicateHandle(Handle handle) = 0;
    // Waits for any (waitAll 0) or all of `count` events or mutexes; returns kWaitObject0 + i,
    // kWaitAbandoned0 + i, kWaitTimeout or kWaitFailed.
    virtual std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles,
                                                 int waitAll, std::uint32_t milliseconds) = 0;

    // Named mutex shared by every process that opens the same name; closed with CloseHandle.
    // It is taken by waiting on it (WaitForMultipleObjects with the one handle); a holder that
    // dies leaves it abandoned, and the next waiter gets it with kWaitAbandoned0.
    virtual Handle CreateMutexW(const wchar_t* name) = 0;
    virtual int ReleaseMutex(Handle mutex) = 0;

    // Clock and zone. Times are milliseconds since the Unix epoch.
    virtual long long GetCurTime() = 0;
    virtual int SetCurTime(long long time) = 0;
    virtual int SetTimeZone(const TimeZone& zone) = 0;

    // The error of the last failed call on this thread.
    virtual std::uint32_t GetLastError() = 0;
};

// Facts of the backend this build picked, for the few places above the seam that differ by
// platform without calling into it.
struct BackendTraits {
    const wchar_t* pathSeparator;  // between a folder and a file name
    const wchar_t* librarySuffix;  // ".dll", ".so"
    bool linuxFileSystems;         // volumes may hold ext4, xfs and btrfs
};
OVRA_BASES_API const BackendTraits& Traits();

// The platform the process uses now; never null.
OVRA_BASES_API Platform& Sys();

// The real backend of this build (Win32 or POSIX).
OVRA_BASES_API Platform& DefaultPlatform();

// Installs `platform` (null restores the default) and returns the one it replaced. Tests install
// fakes before the code under test runs and restore the old one afterwards (ScopedPlatform).
OVRA_BASES_API Platform* SetPlatform(Platform* platform);

class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& platform) : m_previous(SetPlatform(&platform)) {}
    ~ScopedPlatform() { SetPlatform(m_previous); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* m_previous;
};

// A Platform that forwards every entry to another one; fakes override only what they change.
class OVRA_BASES_API PlatformWrapper : public Platform {
public:
    explicit PlatformWrapper(Platform& target) : m_target(&target) {}
    Platform& Target() const { return *m_target; }

    Handle CreateFileW(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                       std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override;
    int DeviceIoControl(Handle device, std::uint32_t ioControlCode, const void* inBuffer,
                        std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                        std::uint32_t* bytesReturned) override;
    int CloseHandle(Handle handle) override;
    std::uint32_t GetDriveTypeW(const wchar_t* rootPath) override;
    int GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label, std::uint32_t labelSize,
                              std::uint32_t* serialNumber, std::uint32_t* maxComponentLength,
                              std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                              std::uint32_t fileSystemNameSize) override;
    int GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                            std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) override;
    int SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) override;
    std::vector<std::wstring> VolumeRoots() override;
    Module LoadLibraryW(const wchar_t* path) override;
    void* GetProcAddress(Module module, const char* name) override;
    int FreeLibrary(Module module) override;
    Handle CreateEventW(int manualReset, int initialState) override;
    int SetEvent(Handle event) override;
    int ResetEvent(Handle event) override;
    Handle DuplicateHandle(Handle handle) override;
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t milliseconds) override;
    Handle CreateMutexW(const wchar_t* name) override;
    int ReleaseMutex(Handle mutex) override;
    long long GetCurTime() override;
    int SetCurTime(long long time) override;
    int SetTimeZone(const TimeZone& zone) override;
    std::uint32_t GetLastError() override;

private:
    Platform* m_target;
};

}  // namespace platform
}  // namespace Ovra
