// POSIX backend of the platform seam. Physical disks are the block devices of /sys/block
// (linux/LinuxDisks.cpp); volumes are mounted file systems on block devices
// (linux/LinuxVolumes.cpp); "fmifs.dll" loads our libfmifs.so. Other device entries fail cleanly
// with ERROR_NOT_SUPPORTED. Events, waits and the named mutex are implemented here; the named
// mutex is an flock()ed file, which the kernel releases when its holder dies.

#include "base/platform/PosixPlatform.h"

#include "base/platform/linux/HandleRegistry.h"
#include "base/platform/linux/LinuxDisks.h"
#include "base/platform/linux/LinuxVolumes.h"

#include <Ovra/Bases/StringConv.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Ovra {
namespace platform {
namespace posix {
namespace {

thread_local std::uint32_t t_lastError = 0;
const std::uint32_t kErrorNotOwner = 288;

template <typename T>
T Fail(std::uint32_t error, T result) {
    t_lastError = error;
    return result;
}

// 1 for a call that returned no error, 0 with the error kept.
int Done(std::uint32_t error) {
    return error == 0 ? 1 : Fail(error, 0);
}

using Guard = HandleRegistry::Guard;

struct EventObject : HandleObject {
    EventObject(bool manual, bool initial)
        : HandleObject(HandleKind::kEvent), manualReset(manual), signalled(initial) {}
    const bool manualReset;
    bool signalled;
};

struct NamedMutexState {
    std::wstring name;
    int fd = -1;
    std::thread::id owner;
    unsigned int count = 0;
    int objects = 0;
};

// The named mutexes open in this process, by name; under the registry's lock.
std::map<std::wstring, NamedMutexState*> g_mutexes;

struct MutexObject : HandleObject {
    explicit MutexObject(NamedMutexState* s) : HandleObject(HandleKind::kMutex), state(s) {
        ++state->objects;
    }
    ~MutexObject() override {
        if (--state->objects > 0) return;
        ::close(state->fd);  // drops the flock as well
        g_mutexes.erase(state->name);
        delete state;
    }
    NamedMutexState* const state;
};

// Every event and mutex of the process shares the registry's lock and this one condition: waits
// are rare and short, and a single condition makes waiting on several objects simple and free of
// lost wake-ups.
std::condition_variable g_cv;

bool IsWaitable(const HandleObject* object) {
    return object && (object->kind == HandleKind::kEvent || object->kind == HandleKind::kMutex);
}

std::string MutexFilePath(const wchar_t* name) {
    std::string path = "/tmp/ovra-mutex-";
    for (unsigned char c : tcs_to_utf8(name)) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_';
        if (plain) {
            path += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            path += hex;
        }
    }
    return path + ".lock";
}

// Takes the object for the calling thread if it is free now. Called with the lock held.
bool TryAcquire(HandleObject* object) {
    if (object->kind == HandleKind::kEvent) {
        auto* event = static_cast<EventObject*>(object);
        if (!event->signalled) return false;
        if (!event->manualReset) event->signalled = false;
        return true;
    }
    NamedMutexState* state = static_cast<MutexObject*>(object)->state;
    if (state->count > 0) {
        if (state->owner != std::this_thread::get_id()) return false;
        ++state->count;
        return true;
    }
    if (::flock(state->fd, LOCK_EX | LOCK_NB) != 0) return false;
    state->owner = std::this_thread::get_id();
    state->count = 1;
    return true;
}

bool IsReady(HandleObject* object) {
    if (object->kind == HandleKind::kEvent) return static_cast<EventObject*>(object)->signalled;
    NamedMutexState* state = static_cast<MutexObject*>(object)->state;
    return state->count == 0 || state->owner == std::this_thread::get_id();
}

class PosixPlatform final : public Platform {
public:
    Handle CreateFileW(const wchar_t* path, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t) override {
        std::uint32_t error = kErrorNotSupported;
        if (IsPhysicalDrivePath(path)) {
            const Handle disk = OpenPhysicalDrive(path, error);
            if (disk != InvalidHandle()) return disk;
        } else if (Handle volume = OpenVolume(path)) {
            return volume;
        }
        return Fail(error, InvalidHandle());
    }
    int DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                        void* out, std::uint32_t outSize, std::uint32_t* returned) override {
        HandleKind kind;
        {
            Guard guard = Handles().Lock();
            const HandleObject* object = Handles().Find(guard, device);
            if (!object) return Fail(kErrorInvalidHandle, 0);
            kind = object->kind;
        }
        if (kind == HandleKind::kDisk)
            return Done(DiskControl(device, code, in, inSize, out, outSize, returned));
        if (kind == HandleKind::kVolume)
            return Done(VolumeControl(device, code, out, outSize, returned));
        return Fail(kErrorNotSupported, 0);
    }
    int CloseHandle(Handle handle) override {
        Guard guard = Handles().Lock();
        return Handles().Close(guard, handle) ? 1 : Fail(kErrorInvalidHandle, 0);
    }
    std::uint32_t GetDriveTypeW(const wchar_t* root) override { return VolumeDriveType(root); }
    int GetVolumeInformationW(const wchar_t* root, wchar_t* label, std::uint32_t labelSize,
                              std::uint32_t* serial, std::uint32_t* maxComponentLength,
                              std::uint32_t* flags, wchar_t* name,
                              std::uint32_t nameSize) override {
        return Done(VolumeInformation(root, label, labelSize, serial, maxComponentLength, flags,
                                      name, nameSize));
    }
    int GetDiskFreeSpaceExW(const wchar_t* root, std::uint64_t* freeToCaller, std::uint64_t* total,
                            std::uint64_t* totalFree) override {
        return Done(VolumeFreeSpace(root, freeToCaller, total, totalFree));
    }
    int SetVolumeLabelW(const wchar_t* root, const wchar_t* label) override {
        return Done(SetVolumeLabel(root, label));
    }
    std::vector<std::wstring> VolumeRoots() override { return posix::VolumeRoots(); }

    Module LoadLibraryW(const wchar_t* path) override {
        if (!path) return Fail<Module>(kErrorInvalidParameter, nullptr);
        void* module = ::dlopen(tcs_to_utf8(LibraryPath(path)).c_str(), RTLD_NOW | RTLD_LOCAL);
        return module ? module : Fail<Module>(kErrorModNotFound, nullptr);
    }
    void* GetProcAddress(Module module, const char* name) override {
        if (!module || !name) return Fail<void*>(kErrorInvalidHandle, nullptr);
        void* symbol = ::dlsym(module, name);
        return symbol ? symbol : Fail<void*>(kErrorProcNotFound, nullptr);
    }
    int FreeLibrary(Module module) override {
        if (!module) return Fail(kErrorInvalidHandle, 0);
        return ::dlclose(module) == 0 ? 1 : Fail(kErrorInvalidHandle, 0);
    }

    Handle CreateEventW(int manualReset, int initialState) override {
        Guard guard = Handles().Lock();
        return Handles().Add(guard,
                             std::make_unique<EventObject>(manualReset != 0, initialState != 0));
    }
    int SetEvent(Handle handle) override {
        Guard guard = Handles().Lock();
        auto* event = static_cast<EventObject*>(Handles().Find(guard, handle, HandleKind::kEvent));
        if (!event) return Fail(kErrorInvalidHandle, 0);
        event->signalled = true;
        g_cv.notify_all();
        return 1;
    }
    int ResetEvent(Handle handle) override {
        Guard guard = Handles().Lock();
        auto* event = static_cast<EventObject*>(Handles().Find(guard, handle, HandleKind::kEvent));
        if (!event) return Fail(kErrorInvalidHandle, 0);
        event->signalled = false;
        return 1;
    }
    Handle DuplicateHandle(Handle handle) override {
        Guard guard = Handles().Lock();
        const Handle copy = Handles().Duplicate(guard, handle);
        return copy ? copy : Fail<Handle>(kErrorInvalidHandle, nullptr);
    }

    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t milliseconds) override {
        if (count == 0 || count > 64 || !handles) return Fail(kErrorInvalidParameter, kWaitFailed);
        Guard guard = Handles().Lock();
        std::vector<HandleObject*> objects;
        bool hasMutex = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            HandleObject* object = Handles().Find(guard, handles[i]);
            if (!IsWaitable(object)) {
                for (HandleObject* held : objects) Handles().Release(guard, held);
                return Fail(kErrorInvalidHandle, kWaitFailed);
            }
            Handles().Hold(guard, object);  // alive if another thread closes it while we wait
            hasMutex = hasMutex || object->kind == HandleKind::kMutex;
            objects.push_back(object);
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        std::uint32_t result = kWaitTimeout;
        for (;;) {
            if (waitAll) {
                bool all = true;
                for (HandleObject* object : objects) all = all && IsReady(object);
                if (all) {
                    for (HandleObject* object : objects) TryAcquire(object);
                    result = kWaitObject0;
                    break;
                }
            } else {
                std::uint32_t i = 0;
                while (i < count && !TryAcquire(objects[i])) ++i;
                if (i < count) {
                    result = kWaitObject0 + i;
                    break;
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (milliseconds != kInfinite && now >= deadline) break;
            // Another process releases a named mutex without telling our condition: poll then.
            auto until = milliseconds == kInfinite ? now + std::chrono::hours(24) : deadline;
            if (hasMutex) until = std::min(until, now + std::chrono::milliseconds(5));
            g_cv.wait_until(guard, until);
        }
        for (HandleObject* object : objects) Handles().Release(guard, object);
        return result;
    }

    Handle CreateMutexW(const wchar_t* name) override {
        if (!name || !*name) return Fail<Handle>(kErrorInvalidParameter, nullptr);
        Guard guard = Handles().Lock();
        NamedMutexState*& state = g_mutexes[name];
        if (!state) {
            int fd = ::open(MutexFilePath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd < 0) {
                g_mutexes.erase(name);
                return Fail<Handle>(kErrorAccessDenied, nullptr);
            }
            ::fchmod(fd, 0666);  // other users' processes share the name too
            state = new NamedMutexState;
            state->name = name;
            state->fd = fd;
        }
        return Handles().Add(guard, std::make_unique<MutexObject>(state));
    }
    int ReleaseMutex(Handle handle) override {
        Guard guard = Handles().Lock();
        auto* mutex = static_cast<MutexObject*>(Handles().Find(guard, handle, HandleKind::kMutex));
        if (!mutex) return Fail(kErrorInvalidHandle, 0);
        NamedMutexState* state = mutex->state;
        if (state->count == 0 || state->owner != std::this_thread::get_id())
            return Fail(kErrorNotOwner, 0);
        if (--state->count == 0) {
            ::flock(state->fd, LOCK_UN);
            state->owner = std::thread::id();
            g_cv.notify_all();
        }
        return 1;
    }

    long long GetCurTime() override {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }
    int SetCurTime(long long time) override {
        timespec value{};
        value.tv_sec = static_cast<time_t>(time / 1000);
        value.tv_nsec = static_cast<long>(time % 1000) * 1000000;
        if (value.tv_nsec < 0) {
            value.tv_sec -= 1;
            value.tv_nsec += 1000000000;
        }
        if (::clock_settime(CLOCK_REALTIME, &value) != 0) return Fail(kErrorAccessDenied, 0);
        return 1;
    }
    // Points /etc/localtime at the zone file named by the IANA key name. Without dots and a
    // leading slash, the name cannot leave the zone folder.
    int SetTimeZone(const TimeZone& zone) override {
        std::wstring key(zone.keyName, wcsnlen(zone.keyName, 128));
        std::string name = tcs_to_utf8(key);
        bool safe = !name.empty() && name[0] != '/';
        for (char c : name) {
            safe = safe && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '/' || c == '_' || c == '-' || c == '+');
        }
        if (!safe) return Fail(kErrorInvalidParameter, 0);
        const std::string file = "/usr/share/zoneinfo/" + name;
        struct stat info {};
        if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return Fail(kErrorFileNotFound, 0);
        const char* temp = "/etc/localtime.ovra-new";
        ::unlink(temp);
        if (::symlink(file.c_str(), temp) != 0 || ::rename(temp, "/etc/localtime") != 0) {
            ::unlink(temp);
            return Fail(kErrorAccessDenied, 0);
        }
        ::tzset();
        return 1;
    }

    std::uint32_t GetLastError() override { return t_lastError; }
};

}  // namespace

Platform& PosixBackend() {
    static PosixPlatform* platform = new PosixPlatform;  // never destroyed: used until exit
    return *platform;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
