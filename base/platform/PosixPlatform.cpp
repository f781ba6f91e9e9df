// POSIX backend of the platform seam. Physical disks are the block devices of /sys/block
// (linux/LinuxDisks.cpp); volumes are mounted file systems on block devices
// (linux/LinuxVolumes.cpp); "fmifs.dll" loads our libfmifs.so. Other device entries fail cleanly
// with ERROR_NOT_SUPPORTED. Events, waits and the named mutex are implemented here; the named
// mutex is an flock()ed file, which the kernel releases when its holder dies.

#include "base/platform/Platform.h"
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
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace Ovra {
namespace platform {
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

struct Object {
    virtual ~Object() = default;
    int refs = 1;
};

struct EventObject : Object {
    bool manualReset = false;
    bool signalled = false;
};

struct NamedMutexState {
    std::wstring name;
    int fd = -1;
    std::thread::id owner;
    unsigned int count = 0;
    int objects = 0;
};

struct MutexObject : Object {
    NamedMutexState* state = nullptr;
};

// One lock and one condition for every event and mutex of the process: waits are rare and short,
// and a single condition makes waiting on several objects simple and free of lost wake-ups.
std::mutex g_mu;
std::condition_variable g_cv;
std::set<Object*> g_objects;
std::map<std::wstring, NamedMutexState*> g_mutexes;

Object* Find(Handle handle) {
    auto it = g_objects.find(static_cast<Object*>(handle));
    return it == g_objects.end() ? nullptr : *it;
}

void Unref(Object* object) {
    if (--object->refs > 0) return;
    g_objects.erase(object);
    if (auto* mutex = dynamic_cast<MutexObject*>(object)) {
        NamedMutexState* state = mutex->state;
        if (--state->objects == 0) {
            ::close(state->fd);  // drops the flock as well
            g_mutexes.erase(state->name);
            delete state;
        }
    }
    delete object;
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

// Takes the object for the calling thread if it is free now. Called with g_mu held.
bool TryAcquire(Object* object) {
    if (auto* event = dynamic_cast<EventObject*>(object)) {
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

bool IsReady(Object* object) {
    if (auto* event = dynamic_cast<EventObject*>(object)) return event->signalled;
    NamedMutexState* state = static_cast<MutexObject*>(object)->state;
    return state->count == 0 || state->owner == std::this_thread::get_id();
}

class PosixPlatform final : public Platform {
public:
    Handle CreateFileW(const wchar_t* path, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t) override {
        std::uint32_t error = kErrorNotSupported;
        if (posix::IsPhysicalDrivePath(path)) {
            const Handle disk = posix::OpenPhysicalDrive(path, error);
            if (disk != InvalidHandle()) return disk;
        } else if (Handle volume = posix::OpenVolume(path)) {
            return volume;
        }
        return Fail(error, InvalidHandle());
    }
    int DeviceIoControl(Handle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                        void* out, std::uint32_t outSize, std::uint32_t* returned) override {
        if (posix::IsVolumeHandle(device))
            return Done(posix::VolumeControl(device, code, out, outSize, returned));
        if (!posix::IsDiskHandle(device)) return Fail(kErrorNotSupported, 0);
        const std::uint32_t error =
            posix::DiskControl(device, code, in, inSize, out, outSize, returned);
        return error ? Fail(error, 0) : 1;
    }
    int CloseHandle(Handle handle) override {
        if (posix::CloseDisk(handle) || posix::CloseVolume(handle)) return 1;
        std::lock_guard<std::mutex> lock(g_mu);
        Object* object = Find(handle);
        if (!object) return Fail(kErrorInvalidHandle, 0);
        Unref(object);
        return 1;
    }
    std::uint32_t GetDriveTypeW(const wchar_t* root) override {
        return posix::VolumeDriveType(root);
    }
    int GetVolumeInformationW(const wchar_t* root, wchar_t* label, std::uint32_t labelSize,
                              std::uint32_t* serial, std::uint32_t* maxComponentLength,
                              std::uint32_t* flags, wchar_t* name,
                              std::uint32_t nameSize) override {
        return Done(posix::VolumeInformation(root, label, labelSize, serial, maxComponentLength,
                                             flags, name, nameSize));
    }
    int GetDiskFreeSpaceExW(const wchar_t* root, std::uint64_t* freeToCaller, std::uint64_t* total,
                            std::uint64_t* totalFree) override {
        return Done(posix::VolumeFreeSpace(root, freeToCaller, total, totalFree));
    }
    int SetVolumeLabelW(const wchar_t* root, const wchar_t* label) override {
        return Done(posix::SetVolumeLabel(root, label));
    }
    std::vector<std::wstring> VolumeRoots() override { return posix::VolumeRoots(); }

    Module LoadLibraryW(const wchar_t* path) override {
        if (!path) return Fail<Module>(kErrorInvalidParameter, nullptr);
        void* module =
            ::dlopen(tcs_to_utf8(posix::LibraryPath(path)).c_str(), RTLD_NOW | RTLD_LOCAL);
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
        auto* event = new EventObject;
        event->manualReset = manualReset != 0;
        event->signalled = initialState != 0;
        std::lock_guard<std::mutex> lock(g_mu);
        g_objects.insert(event);
        return event;
    }
    int SetEvent(Handle handle) override {
        std::lock_guard<std::mutex> lock(g_mu);
        auto* event = dynamic_cast<EventObject*>(Find(handle));
        if (!event) return Fail(kErrorInvalidHandle, 0);
        event->signalled = true;
        g_cv.notify_all();
        return 1;
    }
    int ResetEvent(Handle handle) override {
        std::lock_guard<std::mutex> lock(g_mu);
        auto* event = dynamic_cast<EventObject*>(Find(handle));
        if (!event) return Fail(kErrorInvalidHandle, 0);
        event->signalled = false;
        return 1;
    }
    Handle DuplicateHandle(Handle handle) override {
        std::lock_guard<std::mutex> lock(g_mu);
        Object* object = Find(handle);
        if (!object) return Fail<Handle>(kErrorInvalidHandle, nullptr);
        ++object->refs;
        return object;
    }

    std::uint32_t WaitForMultipleObjects(std::uint32_t count, const Handle* handles, int waitAll,
                                         std::uint32_t milliseconds) override {
        if (count == 0 || count > 64 || !handles) return Fail(kErrorInvalidParameter, kWaitFailed);
        std::unique_lock<std::mutex> lock(g_mu);
        std::vector<Object*> objects;
        bool hasMutex = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            Object* object = Find(handles[i]);
            if (!object) {
                for (Object* held : objects) Unref(held);
                return Fail(kErrorInvalidHandle, kWaitFailed);
            }
            ++object->refs;  // keeps it alive if another thread closes it while we wait
            hasMutex = hasMutex || dynamic_cast<MutexObject*>(object) != nullptr;
            objects.push_back(object);
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        std::uint32_t result = kWaitTimeout;
        for (;;) {
            if (waitAll) {
                bool all = true;
                for (Object* object : objects) all = all && IsReady(object);
                if (all) {
                    for (Object* object : objects) TryAcquire(object);
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
            g_cv.wait_until(lock, until);
        }
        for (Object* object : objects) Unref(object);
        return result;
    }

    Handle CreateMutexW(const wchar_t* name) override {
        if (!name || !*name) return Fail<Handle>(kErrorInvalidParameter, nullptr);
        std::lock_guard<std::mutex> lock(g_mu);
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
        auto* mutex = new MutexObject;
        mutex->state = state;
        ++state->objects;
        g_objects.insert(mutex);
        return mutex;
    }
    int ReleaseMutex(Handle handle) override {
        std::lock_guard<std::mutex> lock(g_mu);
        auto* mutex = dynamic_cast<MutexObject*>(Find(handle));
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
    // Points /etc/localtime at the zone file named by the IANA key name.
    int SetTimeZone(const TimeZone& zone) override {
        std::wstring key(zone.keyName, wcsnlen(zone.keyName, 128));
        std::string name = tcs_to_utf8(key);
        bool safe = !name.empty() && name[0] != '/' && name.find("..") == std::string::npos;
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

const BackendTraits& Traits() {
    static const BackendTraits traits = {L"/", L".so", true};
    return traits;
}

Platform& DefaultPlatform() {
    static PosixPlatform* platform = new PosixPlatform;  // never destroyed: used until exit
    return *platform;
}

}  // namespace platform
}  // namespace Ovra
