#include "fakes/FakePlatform.h"

#include <chrono>
#include <cstring>
#include <cwchar>

namespace Ovra {
namespace fakes {

namespace {
thread_local std::uint32_t t_lastError = 0;

void CopyText(const std::wstring& text, wchar_t* buffer, std::uint32_t size) {
    if (!buffer || size == 0) return;
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
}
}  // namespace

struct FakePlatform::DeviceHandle {
    std::wstring path;
};

struct FakePlatform::ModuleEntry {
    FakeModule module;
    int loaded = 0;
    int loads = 0;
    int frees = 0;
};

// ---------------------------------------------------------------------------- WaitGate

std::uint64_t WaitGate::Entered() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_enteredCount;
}

bool WaitGate::AwaitEntered(std::uint64_t count, unsigned int limitMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_entered.wait_for(lock, std::chrono::milliseconds(limitMs),
                              [&] { return m_enteredCount >= count; });
}

void WaitGate::Elapse(unsigned int count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tickets += count;
    if (m_event && m_tickets > 0) platform::DefaultPlatform().SetEvent(m_event);
}

void WaitGate::Attach(platform::Platform& real) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_event) m_event = real.CreateEventW(1, m_tickets > 0);
}

void WaitGate::Detach(platform::Platform& real) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_event) real.CloseHandle(m_event);
    m_event = nullptr;
}

std::uint32_t WaitGate::Wait(platform::Platform& real, std::uint32_t count, const Handle* handles) {
    std::vector<Handle> all(handles, handles + count);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all.push_back(m_event);
        ++m_enteredCount;
        m_entered.notify_all();
    }
    for (;;) {
        const std::uint32_t result = real.WaitForMultipleObjects(
            static_cast<std::uint32_t>(all.size()), all.data(), 0, platform::kInfinite);
        if (result != platform::kWaitObject0 + count) return result;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_tickets > 0) {
            if (--m_tickets == 0) real.ResetEvent(m_event);
            return platform::kWaitTimeout;
        }
        real.ResetEvent(m_event);  // another waiter took the last ticket
    }
}

// ---------------------------------------------------------------------------- FakePlatform

FakePlatform::FakePlatform() : PlatformWrapper(platform::DefaultPlatform()) {}

FakePlatform::~FakePlatform() {
    m_gate.Detach(Target());
    for (auto& entry : m_openDevices) delete entry.first;
}

bool FakePlatform::Enter(Call call, std::uint32_t* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->name != call.name) continue;
        if (it->remaining < 0) {
            *error = it->error;
            m_calls.push_back(std::move(call));
            return true;
        }
        if (it->remaining-- == 0) {
            *error = it->error;
            m_faults.erase(it);
            m_calls.push_back(std::move(call));
            return true;
        }
    }
    m_calls.push_back(std::move(call));
    return false;
}

std::uint32_t FakePlatform::Fail(std::uint32_t error) {
    t_lastError = error;
    return error;
}

void FakePlatform::FailCall(const std::string& name, int nth, std::uint32_t error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back({name, nth - 1, error});
}

void FakePlatform::FailAlways(const std::string& name, std::uint32_t error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back({name, -1, error});
}

void FakePlatform::Heal() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

std::vector<Call> FakePlatform::Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<Call> FakePlatform::CallsNamed(const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Call> result;
    for (const Call& call : m_calls) {
        if (call.name == name) result.push_back(call);
    }
    return result;
}

void FakePlatform::ClearCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

void FakePlatform::EnableWaitGate(bool enable) {
    if (enable) m_gate.Attach(Target());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gateEnabled = enable;
}

// --- simulated world

void FakePlatform::AddDevice(const std::wstring& path, std::shared_ptr<FakeDevice> device) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices[path] = std::move(device);
}

void FakePlatform::RemoveDevice(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.erase(path);
}

int FakePlatform::OpenHandleCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_openDevices.size());
}

void FakePlatform::AddVolume(const std::wstring& root, const FakeVolume& volume) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_volumes[root] = volume;
}

void FakePlatform::RemoveVolume(const std::wstring& root) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_volumes.erase(root);
}

FakeVolume* FakePlatform::Volume(const std::wstring& root) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_volumes.find(root);
    return it == m_volumes.end() ? nullptr : &it->second;
}

void FakePlatform::SetDriveType(const std::wstring& root, std::uint32_t type) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_driveTypes[root] = type;
}

void FakePlatform::AddModule(const std::wstring& path, const FakeModule& module) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& entry = m_modules[path];
    if (!entry) entry.reset(new ModuleEntry);
    entry->module = module;
}

int FakePlatform::LoadedModuleCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int loaded = 0;
    for (const auto& entry : m_modules) loaded += entry.second->loaded;
    return loaded;
}

int FakePlatform::LoadCount(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_modules.find(path);
    return it == m_modules.end() ? 0 : it->second->loads;
}

int FakePlatform::FreeCount(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_modules.find(path);
    return it == m_modules.end() ? 0 : it->second->frees;
}

// --- clock

void FakePlatform::SetTime(long long time) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_time = time;
}

long long FakePlatform::Time() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_time;
}

void FakePlatform::RefuseClock(bool refuse) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuseClock = refuse;
}

std::vector<long long> FakePlatform::ClockSets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_clockSets;
}

std::vector<std::wstring> FakePlatform::ZoneSets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_zoneSets;
}

// --- the seam

Handle FakePlatform::CreateFileW(const wchar_t* path, std::uint32_t desiredAccess,
                                 std::uint32_t shareMode, std::uint32_t creationDisposition,
                                 std::uint32_t flagsAndAttributes) {
    std::uint32_t error = 0;
    const std::wstring name = path ? path : L"";
    if (Enter({"CreateFileW", name, {desiredAccess, shareMode, creationDisposition,
                                     flagsAndAttributes}, {}},
              &error)) {
        Fail(error);
        return platform::InvalidHandle();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(name);
    if (it == m_devices.end()) {
        Fail(platform::kErrorFileNotFound);
        return platform::InvalidHandle();
    }
    auto* handle = new DeviceHandle{name};
    m_openDevices[handle] = it->second;
    return handle;
}

int FakePlatform::DeviceIoControl(Handle device, std::uint32_t ioControlCode,
                                  const void* inBuffer, std::uint32_t inBufferSize,
                                  void* outBuffer, std::uint32_t outBufferSize,
                                  std::uint32_t* bytesReturned) {
    std::vector<std::uint8_t> input;
    if (inBuffer && inBufferSize) {
        const auto* bytes = static_cast<const std::uint8_t*>(inBuffer);
        input.assign(bytes, bytes + inBufferSize);
    }
    std::uint32_t error = 0;
    if (Enter({"DeviceIoControl", L"", {ioControlCode, inBufferSize, outBufferSize}, input},
              &error)) {
        Fail(error);
        return 0;
    }
    std::shared_ptr<FakeDevice> target;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_openDevices.find(static_cast<DeviceHandle*>(device));
        if (it == m_openDevices.end()) {
            Fail(platform::kErrorInvalidHandle);
            return 0;
        }
        target = it->second;
    }
    std::uint32_t returned = 0;
    error = 0;
    const int ok = target->Control(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                                   &returned, &error);
    if (bytesReturned) *bytesReturned = returned;
    if (!ok) Fail(error ? error : platform::kErrorNotSupported);
    return ok;
}

int FakePlatform::CloseHandle(Handle handle) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_openDevices.find(static_cast<DeviceHandle*>(handle));
        if (it != m_openDevices.end()) {
            m_calls.push_back({"CloseHandle", it->first->path, {}, {}});
            delete it->first;
            m_openDevices.erase(it);
            return 1;
        }
        m_calls.push_back({"CloseHandle", L"", {}, {}});
    }
    return Target().CloseHandle(handle);
}

std::uint32_t FakePlatform::GetDriveTypeW(const wchar_t* rootPath) {
    std::uint32_t error = 0;
    const std::wstring root = rootPath ? rootPath : L"";
    if (Enter({"GetDriveTypeW", root, {}, {}}, &error)) return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto type = m_driveTypes.find(root);
    if (type != m_driveTypes.end()) return type->second;
    auto it = m_volumes.find(root);
    return it == m_volumes.end() ? 1 : it->second.driveType;  // 1: DRIVE_NO_ROOT_DIR
}

int FakePlatform::GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label,
                                        std::uint32_t labelSize, std::uint32_t* serialNumber,
                                        std::uint32_t* maxComponentLength,
                                        std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                                        std::uint32_t fileSystemNameSize) {
    std::uint32_t error = 0;
    const std::wstring root = rootPath ? rootPath : L"";
    if (Enter({"GetVolumeInformationW", root,
               {labelSize, fileSystemNameSize, serialNumber != nullptr,
                maxComponentLength != nullptr, fileSystemFlags != nullptr},
               {}},
              &error)) {
        Fail(error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_volumes.find(root);
    if (it == m_volumes.end() || it->second.failVolumeInformation) {
        Fail(platform::kErrorFileNotFound);
        return 0;
    }
    const FakeVolume& volume = it->second;
    CopyText(volume.label, label, labelSize);
    CopyText(volume.fileSystem, fileSystemName, fileSystemNameSize);
    if (serialNumber) *serialNumber = volume.serialNumber;
    if (maxComponentLength) *maxComponentLength = volume.maxComponentLength;
    if (fileSystemFlags) *fileSystemFlags = volume.fileSystemFlags;
    return 1;
}

int FakePlatform::GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                                      std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) {
    std::uint32_t error = 0;
    const std::wstring root = rootPath ? rootPath : L"";
    if (Enter({"GetDiskFreeSpaceExW", root,
               {freeBytesAvailable != nullptr, totalBytes != nullptr, totalFreeBytes != nullptr},
               {}},
              &error)) {
        Fail(error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_volumes.find(root);
    if (it == m_volumes.end() || it->second.failFreeSpace) {
        Fail(platform::kErrorFileNotFound);
        return 0;
    }
    if (freeBytesAvailable) *freeBytesAvailable = it->second.freeBytesAvailable;
    if (totalBytes) *totalBytes = it->second.totalBytes;
    if (totalFreeBytes) *totalFreeBytes = it->second.totalFreeBytes;
    return 1;
}

int FakePlatform::SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) {
    std::uint32_t error = 0;
    const std::wstring root = rootPath ? rootPath : L"";
    const std::wstring text = label ? label : L"";
    if (Enter({"SetVolumeLabelW", root + L"|" + text, {}, {}}, &error)) {
        Fail(error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_volumes.find(root);
    if (it == m_volumes.end() || it->second.refuseRelabel) {
        Fail(platform::kErrorAccessDenied);
        return 0;
    }
    it->second.label = text;
    return 1;
}

Module FakePlatform::LoadLibraryW(const wchar_t* path) {
    std::uint32_t error = 0;
    const std::wstring name = path ? path : L"";
    if (Enter({"LoadLibraryW", name, {}, {}}, &error)) {
        Fail(error);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_modules.find(name);
    if (it == m_modules.end()) {
        Fail(platform::kErrorModNotFound);
        return nullptr;
    }
    ++it->second->loaded;
    ++it->second->loads;
    return it->second.get();
}

void* FakePlatform::GetProcAddress(Module module, const char* name) {
    std::uint32_t error = 0;
    const std::string symbol = name ? name : "";
    if (Enter({"GetProcAddress", std::wstring(symbol.begin(), symbol.end()), {}, {}}, &error)) {
        Fail(error);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_modules) {
        if (entry.second.get() != module) continue;
        auto it = entry.second->module.symbols.find(symbol);
        if (it == entry.second->module.symbols.end()) {
            Fail(platform::kErrorProcNotFound);
            return nullptr;
        }
        return it->second;
    }
    Fail(platform::kErrorInvalidHandle);
    return nullptr;
}

int FakePlatform::FreeLibrary(Module module) {
    std::uint32_t error = 0;
    if (Enter({"FreeLibrary", L"", {}, {}}, &error)) {
        Fail(error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& entry : m_modules) {
        if (entry.second.get() != module) continue;
        if (entry.second->loaded == 0) break;  // freed more often than loaded
        --entry.second->loaded;
        ++entry.second->frees;
        return 1;
    }
    Fail(platform::kErrorInvalidHandle);
    return 0;
}

Handle FakePlatform::CreateEventW(int manualReset, int initialState) {
    std::uint32_t error = 0;
    if (Enter({"CreateEventW", L"",
               {static_cast<std::uint64_t>(manualReset), static_cast<std::uint64_t>(initialState)},
               {}},
              &error)) {
        Fail(error);
        return nullptr;
    }
    return Target().CreateEventW(manualReset, initialState);
}

int FakePlatform::SetEvent(Handle event) {
    std::uint32_t error = 0;
    if (Enter({"SetEvent", L"", {}, {}}, &error)) return Fail(error), 0;
    return Target().SetEvent(event);
}

int FakePlatform::ResetEvent(Handle event) {
    std::uint32_t error = 0;
    if (Enter({"ResetEvent", L"", {}, {}}, &error)) return Fail(error), 0;
    return Target().ResetEvent(event);
}

Handle FakePlatform::DuplicateHandle(Handle handle) {
    std::uint32_t error = 0;
    if (Enter({"DuplicateHandle", L"", {}, {}}, &error)) {
        Fail(error);
        return nullptr;
    }
    return Target().DuplicateHandle(handle);
}

std::uint32_t FakePlatform::WaitForMultipleObjects(std::uint32_t count, const Handle* handles,
                                                   int waitAll, std::uint32_t milliseconds) {
    std::uint32_t error = 0;
    if (Enter({"WaitForMultipleObjects", L"",
               {count, static_cast<std::uint64_t>(waitAll), milliseconds}, {}},
              &error)) {
        Fail(error);
        return platform::kWaitFailed;
    }
    bool gated;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        gated = m_gateEnabled;
    }
    if (gated && !waitAll && milliseconds != 0 && milliseconds != platform::kInfinite) {
        // Objects that are signalled already win without entering the gate.
        const std::uint32_t now = Target().WaitForMultipleObjects(count, handles, 0, 0);
        if (now != platform::kWaitTimeout) return now;
        return m_gate.Wait(Target(), count, handles);
    }
    return Target().WaitForMultipleObjects(count, handles, waitAll, milliseconds);
}

Handle FakePlatform::CreateMutexW(const wchar_t* name) {
    std::uint32_t error = 0;
    if (Enter({"CreateMutexW", name ? name : L"", {}, {}}, &error)) {
        Fail(error);
        return nullptr;
    }
    return Target().CreateMutexW(name);
}

int FakePlatform::ReleaseMutex(Handle mutex) {
    std::uint32_t error = 0;
    if (Enter({"ReleaseMutex", L"", {}, {}}, &error)) return Fail(error), 0;
    return Target().ReleaseMutex(mutex);
}

long long FakePlatform::GetCurTime() {
    std::uint32_t error = 0;
    Enter({"GetCurTime", L"", {}, {}}, &error);  // the clock cannot fail
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_time;
}

int FakePlatform::SetCurTime(long long time) {
    std::uint32_t error = 0;
    if (Enter({"SetCurTime", L"", {static_cast<std::uint64_t>(time)}, {}}, &error)) {
        Fail(error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_refuseClock) {
        Fail(platform::kErrorAccessDenied);
        return 0;
    }
    m_clockSets.push_back(time);
    m_time = time;
    return 1;
}

int FakePlatform::SetTimeZone(const TimeZone& zone) {
    const std::wstring key(zone.keyName, wcsnlen(zone.keyName, 128));
    std::uint32_t error = 0;
    if (Enter({"SetTimeZone", key, {}, {}}, &error)) {
        Fail(error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_refuseClock) {
        Fail(platform::kErrorAccessDenied);
        return 0;
    }
    m_zoneSets.push_back(key);
    return 1;
}

std::uint32_t FakePlatform::GetLastError() { return t_lastError; }

}  // namespace fakes
}  // namespace Ovra
