#pragma once

// In-process fakes of the platform seam for tests: a FakePlatform records the device, volume,
// library, wait and clock calls with their arguments, fails chosen calls, hosts simulated
// devices, volumes and libraries, keeps a test clock, and can hold finite waits until the test
// lets them time out (WaitGate), so workers run their cycles exactly when a test says so.
//
// Events and named mutexes stay real (forwarded to the default backend): threads really block
// and wake, only time is simulated.

#include "base/platform/Platform.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Ovra {
namespace fakes {

using platform::Handle;
using platform::Module;

// The device path of physical disk `n`, as the library forms it: \\.\PHYSICALDRIVEn.
inline std::wstring PhysicalDrivePath(long long n) {
    return L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(n);
}

// One call as it reached the seam.
struct Call {
    std::string name;                 // the entry, e.g. "CreateFileW"
    std::wstring text;                // its path, root, label or name argument
    std::vector<std::uint64_t> args;  // its integer arguments, in order
    std::vector<std::uint8_t> input;  // DeviceIoControl: the input bytes
};

// A device behind a path such as \\.\PHYSICALDRIVE0. Answers DeviceIoControl requests.
class FakeDevice {
public:
    virtual ~FakeDevice() = default;
    // Nonzero on success; on failure sets *error to a Windows error code.
    virtual int Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                        std::uint32_t outSize, std::uint32_t* bytesReturned,
                        std::uint32_t* error) = 0;
};

// A mounted volume behind a root path such as C:\.
struct FakeVolume {
    std::wstring label;
    std::wstring fileSystem = L"NTFS";
    std::uint32_t serialNumber = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytesAvailable = 0;
    std::uint64_t totalFreeBytes = 0;
    std::uint32_t driveType = 3;  // DRIVE_FIXED
    bool refuseRelabel = false;
    bool failVolumeInformation = false;
    bool failFreeSpace = false;
};

// A loadable library: its exported symbols by name.
struct FakeModule {
    std::map<std::string, void*> symbols;
};

// Holds finite, nonzero waits until the test lets them time out. Waits with timeout 0 or
// INFINITE, and waits whose objects are signalled, behave as usual.
class WaitGate {
public:
    // Number of gated waits entered since the gate was created.
    std::uint64_t Entered() const;
    // Blocks until at least `count` gated waits have been entered; false after `limitMs`.
    bool AwaitEntered(std::uint64_t count, unsigned int limitMs = 10000) const;
    // Lets `count` gated waits (present or future) end with WAIT_TIMEOUT.
    void Elapse(unsigned int count = 1);

private:
    friend class FakePlatform;
    std::uint32_t Wait(platform::Platform& real, std::uint32_t count, const Handle* handles);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_entered;
    std::uint64_t m_enteredCount = 0;
    unsigned int m_tickets = 0;
    Handle m_event = nullptr;
};

class FakePlatform : public platform::PlatformWrapper {
public:
    FakePlatform();  // forwards to the default backend
    ~FakePlatform() override;

    // --- simulated world
    void AddDevice(const std::wstring& path, std::shared_ptr<FakeDevice> device);
    void RemoveDevice(const std::wstring& path);
    int OpenHandleCount() const { return static_cast<int>(Read(m_openDevices).size()); }
    void AddVolume(const std::wstring& root, const FakeVolume& volume);
    void RemoveVolume(const std::wstring& root);
    FakeVolume* Volume(const std::wstring& root);                     // null when absent
    void SetDriveType(const std::wstring& root, std::uint32_t type);  // for paths without volume
    void AddModule(const std::wstring& path, const FakeModule& module);
    int LoadedModuleCount() const;  // fake libraries loaded and not freed
    int LoadCount(const std::wstring& path) const;
    int FreeCount(const std::wstring& path) const;

    // --- clock
    void SetTime(long long time) { Write(m_time, time); }
    long long Time() const { return Read(m_time); }
    void RefuseClock(bool refuse) { Write(m_refuseClock, refuse); }  // SetCurTime, SetTimeZone fail
    std::vector<long long> ClockSets() const { return Read(m_clockSets); }
    std::vector<std::wstring> ZoneSets() const { return Read(m_zoneSets); }  // their key names

    // --- recording
    std::vector<Call> Calls() const { return Read(m_calls); }
    std::vector<Call> CallsNamed(const std::string& name) const;
    void ClearCalls() { Write(m_calls, {}); }

    // --- faults: the `nth` call (1-based, counted from now) of `name` fails with `error`;
    // FailAlways makes every call of it fail.
    void FailCall(const std::string& name, int nth, std::uint32_t error);
    void FailAlways(const std::string& name, std::uint32_t error) { FailCall(name, 0, error); }

    // --- waits
    WaitGate& Gate() { return m_gate; }
    void EnableWaitGate(bool enable);

    // --- the seam
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
    std::vector<std::wstring> VolumeRoots() override;  // the letters and other fake roots
    Module LoadLibraryW(const wchar_t* path) override;
    void* GetProcAddress(Module module, const char* name) override;
    int FreeLibrary(Module module) override;
    int ResetEvent(Handle event) override;
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t milliseconds) override;
    long long GetCurTime() override;
    int SetCurTime(long long time) override;
    int SetTimeZone(const TimeZone& zone) override;
    std::uint32_t GetLastError() override;

private:
    struct DeviceHandle;
    struct ModuleEntry;
    struct FaultRule {
        std::string name;
        int remaining;  // calls before the failing one; -1: every call
        std::uint32_t error;
    };
    using Lock = std::lock_guard<std::mutex>;

    template <typename T>
    T Read(const T& field) const {
        Lock lock(m_mutex);
        return field;
    }
    template <typename T>
    void Write(T& field, T value) {
        Lock lock(m_mutex);
        field = std::move(value);
    }
    // Records the call; true, with the last error set, when a fault rule fails it.
    bool Refused(Call call);
    ModuleEntry* FindModule(Module module);  // under m_mutex

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<FaultRule> m_faults;
    std::map<std::wstring, std::shared_ptr<FakeDevice>> m_devices;
    std::map<DeviceHandle*, std::shared_ptr<FakeDevice>> m_openDevices;
    std::map<std::wstring, FakeVolume> m_volumes;
    std::map<std::wstring, std::uint32_t> m_driveTypes;
    std::map<std::wstring, std::unique_ptr<ModuleEntry>> m_modules;
    long long m_time = 1700000000000LL;
    bool m_refuseClock = false;
    std::vector<long long> m_clockSets;
    std::vector<std::wstring> m_zoneSets;
    bool m_gateEnabled = false;
    WaitGate m_gate;
};

}  // namespace fakes
}  // namespace Ovra
