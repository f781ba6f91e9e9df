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

#include <chrono>
#include <condition_variable>
#include <cwchar>
#include <memory>
#include <mutex>

namespace Ovra::fakes {

using platform::Handle;
using platform::Module;
using platform::PhysicalDrivePath;
using Lock = std::lock_guard<std::mutex>;

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
    std::wstring label, fileSystem = L"NTFS";
    std::uint32_t serialNumber = 0;
    std::uint64_t totalBytes = 0, freeBytesAvailable = 0;
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
    std::uint64_t Entered() const { return Lock(m_mutex), m_enteredCount; }
    // Blocks until at least `count` gated waits have been entered; false after `limitMs`.
    bool AwaitEntered(std::uint64_t count, unsigned int limitMs = 10000) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_entered.wait_for(lock, std::chrono::milliseconds(limitMs),
                                  [&] { return m_enteredCount >= count; });
    }
    // Lets `count` gated waits (present or future) end with WAIT_TIMEOUT.
    void Elapse(unsigned int count = 1) {
        Lock lock(m_mutex);
        m_tickets += count;
        if (m_event && m_tickets > 0) platform::DefaultPlatform().SetEvent(m_event);
    }

private:
    friend class FakePlatform;
    std::uint32_t Wait(platform::Platform& real, std::uint32_t count, const Handle* handles) {
        std::vector<Handle> all(handles, handles + count);
        {
            Lock lock(m_mutex);
            all.push_back(m_event);
            ++m_enteredCount;
            m_entered.notify_all();
        }
        for (;;) {
            const std::uint32_t result =
                real.WaitForMultipleObjects(count + 1, all.data(), 0, platform::kInfinite);
            if (result != platform::kWaitObject0 + count) return result;
            Lock lock(m_mutex);
            const bool ticket = m_tickets > 0;  // else another waiter took the last one
            if (!ticket || --m_tickets == 0) real.ResetEvent(m_event);
            if (ticket) return platform::kWaitTimeout;
        }
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_entered;
    std::uint64_t m_enteredCount = 0;
    unsigned int m_tickets = 0;
    Handle m_event = nullptr;
};

class FakePlatform : public platform::PlatformWrapper {
public:
    FakePlatform() : PlatformWrapper(platform::DefaultPlatform()) {}
    ~FakePlatform() override {
        if (m_gate.m_event) Target().CloseHandle(m_gate.m_event);
    }

    // --- simulated world
    SimDevice& AddDevice(const std::wstring& path, SimDevice device = SimDevice()) {
        return Hold(), *(m_devices[path] = std::make_shared<SimDevice>(std::move(device)));
    }
    void RemoveDevice(const std::wstring& path) { Hold(), m_devices.erase(path); }
    int OpenHandleCount() const { return static_cast<int>(Read(m_open).size()); }
    void AddVolume(const std::wstring& root, const FakeVolume& volume) {
        Hold(), m_volumes[root] = volume;
    }
    void RemoveVolume(const std::wstring& root) { Hold(), m_volumes.erase(root); }
    void AddModule(const std::wstring& path, const FakeModule& module) {
        Hold(), m_modules[path].module = module;
    }
    // Successful loads and frees of one library (of all for an empty path); LoadedModuleCount:
    // those of all libraries loaded and not freed.
    int LoadCount(const std::wstring& path) const { return Count(path, &ModuleEntry::loads); }
    int FreeCount(const std::wstring& path) const { return Count(path, &ModuleEntry::frees); }
    int LoadedModuleCount() const { return LoadCount(L"") - FreeCount(L""); }

    // --- clock
    void SetTime(long long time) { Hold(), m_time = time; }
    long long Time() const { return Read(m_time); }
    std::vector<long long> ClockSets() const { return Read(m_clockSets); }
    std::vector<std::wstring> ZoneSets() const { return Read(m_zoneSets); }  // their key names

    // --- recording
    std::vector<Call> Calls() const { return Read(m_calls); }
    std::vector<Call> CallsNamed(const std::string& name) const {
        std::vector<Call> result;
        for (const Call& call : Calls())
            if (call.name == name) result.push_back(call);
        return result;
    }
    void ClearCalls() { Hold(), m_calls.clear(); }

    // --- faults: the `nth` call (1-based, counted from now) of `name` fails with `error`;
    // FailAlways fails every such call.
    void FailCall(const std::string& name, int nth, std::uint32_t error) {
        Hold(), m_faults.push_back({name, nth - 1, error});
    }
    void FailAlways(const std::string& name, std::uint32_t error) { FailCall(name, 0, error); }

    // --- waits
    WaitGate& Gate() { return m_gate; }
    void EnableWaitGate(bool enable) {
        Lock lock(m_mutex), gate(m_gate.m_mutex);
        if (enable && !m_gate.m_event)
            m_gate.m_event = Target().CreateEventW(1, m_gate.m_tickets > 0);
        m_gateEnabled = enable;
    }

    // --- the seam: each entry records its call, fails it when a rule says so, then acts
    Handle CreateFileW(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                       std::uint32_t disposition, std::uint32_t flags) override {
        const std::wstring name = Text(path);
        if (Refused("CreateFileW", name, {access, share, disposition, flags}))
            return platform::InvalidHandle();
        Lock lock(m_mutex);
        auto it = m_devices.find(name);
        if (it == m_devices.end())
            return Fail(platform::kErrorFileNotFound, platform::InvalidHandle());
        auto handle = std::make_shared<std::wstring>(name);
        m_open[handle.get()] = {handle, it->second};
        return handle.get();
    }
    int DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                        void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        const Bytes input(bytes, bytes ? bytes + inSize : bytes);
        const bool refused = Refused("DeviceIoControl", L"", {code, inSize, outSize}, input);
        const auto open = Read(m_open);
        const auto it = open.find(device);
        const auto target = it == open.end() ? nullptr : it->second.second;
        std::uint32_t returned = 0, error = platform::kErrorInvalidHandle;
        const int ok =
            !refused && target && target->Control(code, input, out, outSize, &returned, &error);
        if (bytesReturned) *bytesReturned = returned;
        if (ok) return 1;
        // A failing driver may leave anything in the buffer: none of it may be used.
        if (out && returned == 0) std::memset(out, 0xC2, outSize);
        return refused ? 0 : Fail(error, 0);
    }
    int CloseHandle(Handle handle) override {
        Lock lock(m_mutex);
        auto it = m_open.find(handle);
        m_calls.push_back({"CloseHandle", it == m_open.end() ? L"" : *it->second.first, {}, {}});
        if (it == m_open.end()) return Target().CloseHandle(handle);
        m_open.erase(it);
        return 1;
    }
    std::uint32_t GetDriveTypeW(const wchar_t* rootPath) override {
        std::uint32_t type = 1;  // DRIVE_NO_ROOT_DIR
        if (Refused("GetDriveTypeW", Text(rootPath))) return 0;
        return OnVolume(rootPath, [&](FakeVolume& volume) { type = volume.driveType; }), type;
    }
    int GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label, std::uint32_t labelSize,
                              std::uint32_t* serial, std::uint32_t* maxLength, std::uint32_t* flags,
                              wchar_t* fileSystem, std::uint32_t fileSystemSize) override {
        if (Refused("GetVolumeInformationW", Text(rootPath),
                    {labelSize, fileSystemSize, !!serial, !!maxLength, !!flags}))
            return 0;
        return OnVolume(rootPath, [&](FakeVolume& volume) {
            CopyText(volume.label, label, labelSize);
            CopyText(volume.fileSystem, fileSystem, fileSystemSize);
            if (serial) *serial = volume.serialNumber;
            if (maxLength) *maxLength = 255;
            if (flags) *flags = 0;
        });
    }
    int GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                            std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) override {
        if (Refused("GetDiskFreeSpaceExW", Text(rootPath),
                    {!!freeBytesAvailable, !!totalBytes, !!totalFreeBytes}))
            return 0;
        return OnVolume(rootPath, [&](FakeVolume& volume) {
            if (freeBytesAvailable) *freeBytesAvailable = volume.freeBytesAvailable;
            if (totalBytes) *totalBytes = volume.totalBytes;
            if (totalFreeBytes) *totalFreeBytes = volume.freeBytesAvailable + 4096;
        });
    }
    int SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) override {
        if (Refused("SetVolumeLabelW", Text(rootPath) + L"|" + Text(label))) return 0;
        return OnVolume(rootPath, [&](FakeVolume& volume) { volume.label = Text(label); });
    }
    std::vector<std::wstring> VolumeRoots() override {  // the drive letters, as on Windows
        std::vector<std::wstring> roots;
        for (wchar_t letter = L'A'; letter <= L'Z'; ++letter)
            roots.push_back({letter, L':', L'\\'});
        return roots;
    }
    Module LoadLibraryW(const wchar_t* path) override {
        if (Refused("LoadLibraryW", Text(path))) return nullptr;
        Lock lock(m_mutex);
        auto it = m_modules.find(Text(path));
        if (it == m_modules.end()) return Fail<Module>(platform::kErrorModNotFound, nullptr);
        ++it->second.loads;
        return &it->second;
    }
    void* GetProcAddress(Module module, const char* name) override {
        const std::string symbol = name ? name : "";
        if (Refused("GetProcAddress", std::wstring(symbol.begin(), symbol.end()))) return nullptr;
        Lock lock(m_mutex);
        ModuleEntry* entry = Find(module);
        if (!entry) return Fail<void*>(platform::kErrorInvalidHandle, nullptr);
        auto it = entry->module.symbols.find(symbol);
        return it == entry->module.symbols.end()
                   ? Fail<void*>(platform::kErrorProcNotFound, nullptr)
                   : it->second;
    }
    int FreeLibrary(Module module) override {
        if (Refused("FreeLibrary")) return 0;
        Lock lock(m_mutex);
        ModuleEntry* entry = Find(module);
        // Freed more often than loaded is as wrong as an unknown module.
        if (!entry || entry->loads == entry->frees) return Fail(platform::kErrorInvalidHandle, 0);
        return ++entry->frees, 1;
    }
    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t milliseconds) override {
        if (Refused("WaitForMultipleObjects", L"",
                    {count, static_cast<std::uint64_t>(waitAll), milliseconds}))
            return platform::kWaitFailed;
        if (!Read(m_gateEnabled) || waitAll || milliseconds == 0 ||
            milliseconds == platform::kInfinite)
            return Target().WaitForMultipleObjects(count, handles, waitAll, milliseconds);
        // Objects that are signalled already win without entering the gate.
        const std::uint32_t now = Target().WaitForMultipleObjects(count, handles, 0, 0);
        return now != platform::kWaitTimeout ? now : m_gate.Wait(Target(), count, handles);
    }
    int ReleaseMutex(Handle mutex) override {
        return Refused("ReleaseMutex") ? 0 : Target().ReleaseMutex(mutex);
    }
    long long GetCurTime() override {
        Refused("GetCurTime");  // the clock cannot fail
        return Read(m_time);
    }
    int SetCurTime(long long time) override {
        if (Refused("SetCurTime", L"", {static_cast<std::uint64_t>(time)})) return 0;
        return Hold(), m_clockSets.push_back(m_time = time), 1;
    }
    int SetTimeZone(const TimeZone& zone) override {
        const std::wstring key(zone.keyName, wcsnlen(zone.keyName, 128));
        if (Refused("SetTimeZone", key)) return 0;
        return Hold(), m_zoneSets.push_back(key), 1;
    }
    std::uint32_t GetLastError() override { return s_lastError; }

private:
    struct ModuleEntry {
        FakeModule module;
        int loads = 0, frees = 0;
    };
    struct FaultRule {
        std::string name;
        int remaining;  // matching calls before the failing one; -1: every call
        std::uint32_t error;
    };

    inline static thread_local std::uint32_t s_lastError = 0;
    template <typename T>
    static T Fail(std::uint32_t error, T result) {
        return s_lastError = error, result;
    }
    static std::wstring Text(const wchar_t* text) { return text ? text : L""; }
    static void CopyText(const std::wstring& text, wchar_t* buffer, std::uint32_t size) {
        if (buffer && size) std::wcsncpy(buffer, text.c_str(), size - 1), buffer[size - 1] = 0;
    }
    // A guard of m_mutex for one full expression: `Hold(), m_field = value;`.
    Lock Hold() const { return Lock(m_mutex); }
    template <typename T>
    T Read(const T& field) const {
        return Hold(), field;
    }
    // Records the call; true, with the last error set, when a fault rule fails it.
    bool Refused(const char* name, std::wstring text = L"", std::vector<std::uint64_t> args = {},
                 Bytes input = {}) {
        Lock lock(m_mutex);
        m_calls.push_back({name, std::move(text), std::move(args), std::move(input)});
        const Call& made = m_calls.back();
        for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
            if (it->name != made.name || (it->remaining > 0 && it->remaining--)) continue;
            const std::uint32_t error = it->error;
            if (it->remaining == 0) m_faults.erase(it);  // a single failure: used up
            return Fail(error, true);
        }
        return false;
    }
    // Runs `act` on the volume at `root` (under the lock); fails without one.
    template <typename Act>
    int OnVolume(const wchar_t* root, Act act) {
        Lock lock(m_mutex);
        auto it = m_volumes.find(Text(root));
        if (it == m_volumes.end()) return Fail(platform::kErrorFileNotFound, 0);
        return act(it->second), 1;
    }
    ModuleEntry* Find(Module module) {  // under m_mutex
        for (auto& entry : m_modules)
            if (&entry.second == module) return &entry.second;
        return nullptr;
    }
    int Count(const std::wstring& path, int ModuleEntry::*count) const {
        int total = 0;
        for (const auto& entry : Read(m_modules))
            if (path.empty() || entry.first == path) total += entry.second.*count;
        return total;
    }

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    std::vector<FaultRule> m_faults;
    std::map<std::wstring, std::shared_ptr<SimDevice>> m_devices;
    // Open handles: each a path of its own, with the device it reached.
    std::map<Handle, std::pair<std::shared_ptr<std::wstring>, std::shared_ptr<SimDevice>>> m_open;
    std::map<std::wstring, FakeVolume> m_volumes;
    std::map<std::wstring, ModuleEntry> m_modules;
    long long m_time = 1700000000000LL;
    std::vector<long long> m_clockSets;
    std::vector<std::wstring> m_zoneSets;
    bool m_gateEnabled = false;
    WaitGate m_gate;
};

}  // namespace Ovra::fakes
