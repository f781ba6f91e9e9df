#include "tests/fakes/FakePlatform.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cwchar>

namespace Ovra {
namespace fakes {

namespace {
thread_local std::uint32_t t_lastError = 0;

template <typename T>
T Fail(std::uint32_t error, T result) {
    t_lastError = error;
    return result;
}

std::wstring Text(const wchar_t* text) {
    return text ? text : L"";
}

void CopyText(const std::wstring& text, wchar_t* buffer, std::uint32_t size) {
    if (!buffer || size == 0) return;
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
}
}  // namespace

struct FakePlatform::OpenDevice {
    std::wstring path;
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
    if (m_gate.m_event) Target().CloseHandle(m_gate.m_event);
    for (auto& entry : m_openDevices) delete entry.first;
}

bool FakePlatform::Refused(Call call) {
    Lock lock(m_mutex);
    m_calls.push_back(std::move(call));
    const Call& made = m_calls.back();
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->name != made.name) continue;
        if (it->request != kAnyRequest &&
            (made.args.empty() || made.args[0] != static_cast<std::uint64_t>(it->request)))
            continue;
        if (it->remaining > 0) {
            --it->remaining;
            continue;
        }
        const std::uint32_t error = it->error;
        if (it->remaining == 0) m_faults.erase(it);  // a single failure: used up
        return Fail(error, true);
    }
    return false;
}

void FakePlatform::FailCall(const std::string& name, int nth, std::uint32_t error,
                            std::int64_t request) {
    Lock lock(m_mutex);
    m_faults.push_back({name, request, nth - 1, error});
}

std::vector<Call> FakePlatform::CallsNamed(const std::string& name) const {
    std::vector<Call> result;
    for (const Call& call : Calls()) {
        if (call.name == name) result.push_back(call);
    }
    return result;
}

void FakePlatform::EnableWaitGate(bool enable) {
    Lock lock(m_mutex);
    std::lock_guard<std::mutex> gate(m_gate.m_mutex);
    if (enable && !m_gate.m_event) m_gate.m_event = Target().CreateEventW(1, m_gate.m_tickets > 0);
    m_gateEnabled = enable;
}

// --- simulated world

SimDevice& FakePlatform::AddDevice(const std::wstring& path, SimDevice device) {
    Lock lock(m_mutex);
    auto& slot = m_devices[path];
    slot = std::make_shared<SimDevice>(std::move(device));
    return *slot;
}

const FakeVolume* FakePlatform::FindVolume(const std::wstring& root) const {
    auto it = m_volumes.find(root);
    return it == m_volumes.end() ? nullptr : &it->second;
}

void FakePlatform::AddModule(const std::wstring& path, const FakeModule& module) {
    Lock lock(m_mutex);
    auto& entry = m_modules[path];
    if (!entry) entry.reset(new ModuleEntry);
    entry->module = module;
}

int FakePlatform::LoadedModuleCount() const {
    Lock lock(m_mutex);
    int loaded = 0;
    for (const auto& entry : m_modules) loaded += entry.second->loaded;
    return loaded;
}

int FakePlatform::ModuleCount(const std::wstring& path, int ModuleEntry::*count) const {
    Lock lock(m_mutex);
    auto it = m_modules.find(path);
    return it == m_modules.end() ? 0 : (*it->second).*count;
}

// --- the seam

Handle FakePlatform::CreateFileW(const wchar_t* path, std::uint32_t desiredAccess,
                                 std::uint32_t shareMode, std::uint32_t creationDisposition,
                                 std::uint32_t flagsAndAttributes) {
    const std::wstring name = Text(path);
    if (Refused({"CreateFileW",
                 name,
                 {desiredAccess, shareMode, creationDisposition, flagsAndAttributes},
                 {}})) {
        return platform::InvalidHandle();
    }
    Lock lock(m_mutex);
    auto it = m_devices.find(name);
    if (it == m_devices.end()) return Fail(platform::kErrorFileNotFound, platform::InvalidHandle());
    auto* handle = new OpenDevice{name};
    m_openDevices[handle] = it->second;
    return handle;
}

int FakePlatform::DeviceIoControl(Handle device, std::uint32_t ioControlCode, const void* inBuffer,
                                  std::uint32_t inBufferSize, void* outBuffer,
                                  std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
    const auto* bytes = static_cast<const std::uint8_t*>(inBuffer);
    Bytes input;
    if (bytes) input.assign(bytes, bytes + inBufferSize);
    const bool refused =
        Refused({"DeviceIoControl", L"", {ioControlCode, inBufferSize, outBufferSize}, input});
    std::shared_ptr<SimDevice> target;
    {
        Lock lock(m_mutex);
        auto it = m_openDevices.find(static_cast<OpenDevice*>(device));
        if (it != m_openDevices.end()) target = it->second;
    }
    std::uint32_t returned = 0, error = platform::kErrorInvalidHandle;
    const int ok =
        !refused && target &&
        target->Control(ioControlCode, input, outBuffer, outBufferSize, &returned, &error);
    if (bytesReturned) *bytesReturned = returned;
    if (ok) return 1;
    // A failing driver may leave anything in the buffer: none of it may be used.
    if (outBuffer && returned == 0) std::memset(outBuffer, 0xC2, outBufferSize);
    return refused ? 0 : Fail(error, 0);
}

int FakePlatform::CloseHandle(Handle handle) {
    {
        Lock lock(m_mutex);
        auto it = m_openDevices.find(static_cast<OpenDevice*>(handle));
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
    const std::wstring root = Text(rootPath);
    if (Refused({"GetDriveTypeW", root, {}, {}})) return 0;
    Lock lock(m_mutex);
    const FakeVolume* volume = FindVolume(root);
    return volume ? volume->driveType : 1;  // 1: DRIVE_NO_ROOT_DIR
}

int FakePlatform::GetVolumeInformationW(const wchar_t* rootPath, wchar_t* label,
                                        std::uint32_t labelSize, std::uint32_t* serialNumber,
                                        std::uint32_t* maxComponentLength,
                                        std::uint32_t* fileSystemFlags, wchar_t* fileSystemName,
                                        std::uint32_t fileSystemNameSize) {
    const std::wstring root = Text(rootPath);
    if (Refused({"GetVolumeInformationW",
                 root,
                 {labelSize, fileSystemNameSize, serialNumber != nullptr,
                  maxComponentLength != nullptr, fileSystemFlags != nullptr},
                 {}})) {
        return 0;
    }
    Lock lock(m_mutex);
    const FakeVolume* volume = FindVolume(root);
    if (!volume) return Fail(platform::kErrorFileNotFound, 0);
    CopyText(volume->label, label, labelSize);
    CopyText(volume->fileSystem, fileSystemName, fileSystemNameSize);
    if (serialNumber) *serialNumber = volume->serialNumber;
    if (maxComponentLength) *maxComponentLength = 255;
    if (fileSystemFlags) *fileSystemFlags = 0;
    return 1;
}

int FakePlatform::GetDiskFreeSpaceExW(const wchar_t* rootPath, std::uint64_t* freeBytesAvailable,
                                      std::uint64_t* totalBytes, std::uint64_t* totalFreeBytes) {
    const std::wstring root = Text(rootPath);
    if (Refused({"GetDiskFreeSpaceExW",
                 root,
                 {freeBytesAvailable != nullptr, totalBytes != nullptr, totalFreeBytes != nullptr},
                 {}})) {
        return 0;
    }
    Lock lock(m_mutex);
    const FakeVolume* volume = FindVolume(root);
    if (!volume) return Fail(platform::kErrorFileNotFound, 0);
    if (freeBytesAvailable) *freeBytesAvailable = volume->freeBytesAvailable;
    if (totalBytes) *totalBytes = volume->totalBytes;
    if (totalFreeBytes) *totalFreeBytes = volume->freeBytesAvailable + 4096;
    return 1;
}

int FakePlatform::SetVolumeLabelW(const wchar_t* rootPath, const wchar_t* label) {
    const std::wstring root = Text(rootPath);
    if (Refused({"SetVolumeLabelW", root + L"|" + Text(label), {}, {}})) return 0;
    Lock lock(m_mutex);
    auto it = m_volumes.find(root);
    if (it == m_volumes.end()) return Fail(platform::kErrorFileNotFound, 0);
    it->second.label = Text(label);
    return 1;
}

std::vector<std::wstring> FakePlatform::VolumeRoots() {
    std::vector<std::wstring> roots;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) roots.push_back({letter, L':', L'\\'});
    Lock lock(m_mutex);
    for (const auto& volume : m_volumes) {
        if (!(volume.first.size() == 3 && volume.first[1] == L':')) roots.push_back(volume.first);
    }
    return roots;
}

FakePlatform::ModuleEntry* FakePlatform::FindModule(Module module) {
    for (auto& entry : m_modules) {
        if (entry.second.get() == module) return entry.second.get();
    }
    return nullptr;
}

Module FakePlatform::LoadLibraryW(const wchar_t* path) {
    const std::wstring name = Text(path);
    if (Refused({"LoadLibraryW", name, {}, {}})) return nullptr;
    Lock lock(m_mutex);
    auto it = m_modules.find(name);
    if (it == m_modules.end()) return Fail<Module>(platform::kErrorModNotFound, nullptr);
    ++it->second->loaded;
    ++it->second->loads;
    return it->second.get();
}

void* FakePlatform::GetProcAddress(Module module, const char* name) {
    const std::string symbol = name ? name : "";
    if (Refused({"GetProcAddress", std::wstring(symbol.begin(), symbol.end()), {}, {}})) {
        return nullptr;
    }
    Lock lock(m_mutex);
    ModuleEntry* entry = FindModule(module);
    if (!entry) return Fail<void*>(platform::kErrorInvalidHandle, nullptr);
    auto it = entry->module.symbols.find(symbol);
    if (it == entry->module.symbols.end()) {
        return Fail<void*>(platform::kErrorProcNotFound, nullptr);
    }
    return it->second;
}

int FakePlatform::FreeLibrary(Module module) {
    if (Refused({"FreeLibrary", L"", {}, {}})) return 0;
    Lock lock(m_mutex);
    ModuleEntry* entry = FindModule(module);
    // Freed more often than loaded is as wrong as an unknown module.
    if (!entry || entry->loaded == 0) return Fail(platform::kErrorInvalidHandle, 0);
    --entry->loaded;
    ++entry->frees;
    return 1;
}

int FakePlatform::ResetEvent(Handle event) {
    return Refused({"ResetEvent", L"", {}, {}}) ? 0 : Target().ResetEvent(event);
}

std::uint32_t FakePlatform::WaitForMultipleObjects(std::uint32_t count, const Handle* handles,
                                                   int waitAll, std::uint32_t milliseconds) {
    if (Refused({"WaitForMultipleObjects",
                 L"",
                 {count, static_cast<std::uint64_t>(waitAll), milliseconds},
                 {}})) {
        return platform::kWaitFailed;
    }
    const bool gated =
        Read(m_gateEnabled) && !waitAll && milliseconds != 0 && milliseconds != platform::kInfinite;
    if (gated) {
        // Objects that are signalled already win without entering the gate.
        const std::uint32_t now = Target().WaitForMultipleObjects(count, handles, 0, 0);
        return now != platform::kWaitTimeout ? now : m_gate.Wait(Target(), count, handles);
    }
    return Target().WaitForMultipleObjects(count, handles, waitAll, milliseconds);
}

int FakePlatform::ReleaseMutex(Handle mutex) {
    return Refused({"ReleaseMutex", L"", {}, {}}) ? 0 : Target().ReleaseMutex(mutex);
}

long long FakePlatform::GetCurTime() {
    Refused({"GetCurTime", L"", {}, {}});  // the clock cannot fail
    return Read(m_time);
}

int FakePlatform::SetCurTime(long long time) {
    if (Refused({"SetCurTime", L"", {static_cast<std::uint64_t>(time)}, {}})) return 0;
    Lock lock(m_mutex);
    m_clockSets.push_back(time);
    m_time = time;
    return 1;
}

int FakePlatform::SetTimeZone(const TimeZone& zone) {
    const std::wstring key(zone.keyName, wcsnlen(zone.keyName, 128));
    if (Refused({"SetTimeZone", key, {}, {}})) return 0;
    Lock lock(m_mutex);
    m_zoneSets.push_back(key);
    return 1;
}

std::uint32_t FakePlatform::GetLastError() {
    return t_lastError;
}

}  // namespace fakes
}  // namespace Ovra
