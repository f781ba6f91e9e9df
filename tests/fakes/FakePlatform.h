#pragma once

// In-process fake of the platform seam for tests: records every call with its arguments, fails
// chosen calls (FailCall), hosts simulated devices, volumes and libraries, keeps a test clock, and
// can hold finite waits until the test lets them time out (WaitGate), so workers run their cycles
// exactly when a test says so.
//
// Events and named mutexes stay real (forwarded to the default backend): threads really block
// and wake, only time is simulated.

#include "base/platform/Platform.h"
#include "tests/fakes/SimDevice.h"

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
using platform::PhysicalDrivePath;

// One call as it reached the seam.
struct Call {
    std::string name;                 // the entry, e.g. "CreateFileW"
    std::wstring text;                // its path, root, label or name argument
    std::vector<std::uint64_t> args;  // its integer arguments, in order
    std::vector<std::uint8_t> input;  // DeviceIoControl: the input bytes
};

// A mounted volume behind a root path such as C:\. Its volume-wide free count is
// freeBytesAvailable + 4096, so a caller that asks for the wrong figure is seen.
struct FakeVolume {
    std::wstring label;
    std::wstring fileSystem = L"NTFS";
    std::uint32_t serialNumber = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytesAvailable = 0;
    std::uint32_t driveType = 3;  // DRIVE_FIXED
};

// A loadable library: its exported symbols by name.
struct FakeModule {
    std::map<std::string, void*> symbols;
};

// Holds finite, nonzero waits until the test lets them time out. Waits with timeout 0 or
// INFINITE, and waits whose objects are signalled, behave as usual.
class WaitGate {
public:
    std::uint64_t Entered() const;  // gated waits entered so far
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
    static const std::int64_t kAnyRequest = -1;

    FakePlatform();  // forwards to the default backend
    ~FakePlatform() override;

    // --- simulated world
    SimDevice& AddDevice(const std::wstring& path, SimDevice device = SimDevice());
    SimDevice& AddDevice(const std::wstring& path, const std::shared_ptr<SimDevice>& device) {
        return AddDevice(path, *device);
    }
    void RemoveDevice(const std::wstring& path) { Erase(m_devices, path); }
    int OpenHandleCount() const { return static_cast<int>(Read(m_openDevices).size()); }
    void AddVolume(const std::wstring& root, const FakeVolume& volume) {
        Lock lock(m_mutex);
        m_volumes[root] = volume;
    }
    void RemoveVolume(const std::wstring& root) { Erase(m_volumes, root); }
    FakeVolume* Volume(const std::wstring& root) {  // null when absent
        Lock lock(m_mutex);
        return const_cast<FakeVolume*>(FindVolume(root));
    }
    void AddModule(const std::wstring& path, const FakeModule& module);
    int LoadedModuleCount() const;  // fake libraries loaded and not freed
    // Successful loads and frees of one library.
    int LoadCount(const std::wstring& path) const { return ModuleCount(path, &ModuleEntry::loads); }
    int FreeCount(const std::wstring& path) const { return ModuleCount(path, &ModuleEntry::frees); }

    // --- clock
    void SetTime(long long time) { Write(m_time, time); }
    long long Time() const { return Read(m_time); }
    std::vector<long long> ClockSets() const { return Read(m_clockSets); }
    std::vector<std::wstring> ZoneSets() const { return Read(m_zoneSets); }  // their key names

    // --- recording
    std::vector<Call> Calls() const { return Read(m_calls); }
    std::vector<Call> CallsNamed(const std::string& name) const;
    void ClearCalls() { Write(m_calls, {}); }

    // --- faults: the `nth` call (1-based, counted from now) of `name` fails with `error`; with
    // `request`, only DeviceIoControl calls of that request code count. FailAlways fails every
    // such call.
    void FailCall(const std::string& name, int nth, std::uint32_t error,
                  std::int64_t request = kAnyRequest);
    void FailAlways(const std::string& name, std::uint32_t error,
                    std::int64_t request = kAnyRequest) {
        FailCall(name, 0, error, request);
    }

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
    int ReleaseMutex(Handle mutex) override;
    long long GetCurTime() override;
    int SetCurTime(long long time) override;
    int SetTimeZone(const TimeZone& zone) override;
    std::uint32_t GetLastError() override;

private:
    struct OpenDevice;
    struct ModuleEntry {
        FakeModule module;
        int loaded = 0, loads = 0, frees = 0;
    };
    struct FaultRule {
        std::string name;
        std::int64_t request;
        int remaining;  // matching calls before the failing one; -1: every call
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
    template <typename Map>
    void Erase(Map& map, const std::wstring& key) {
        Lock lock(m_mutex);
        map.erase(key);
    }
    int ModuleCount(const std::wstring& path, int ModuleEntry::*count) const;

    // Records the call; true, with the last error set, when a fault rule fails it.
    bool Refused(Call call);
    const FakeVolume* FindVolume(const std::wstring& root) const;  // under m_mutex
    ModuleEntry* FindModule(Module module);                        // under m_mutex

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<FaultRule> m_faults;
    std::map<std::wstring, std::shared_ptr<SimDevice>> m_devices;
    std::map<OpenDevice*, std::shared_ptr<SimDevice>> m_openDevices;
    std::map<std::wstring, FakeVolume> m_volumes;
    std::map<std::wstring, std::unique_ptr<ModuleEntry>> m_modules;
    long long m_time = 1700000000000LL;
    std::vector<long long> m_clockSets;
    std::vector<std::wstring> m_zoneSets;
    bool m_gateEnabled = false;
    WaitGate m_gate;
};

}  // namespace fakes
}  // namespace Ovra
