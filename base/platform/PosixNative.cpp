// POSIX halves of the base runtime: std::recursive_mutex, std::thread, dladdr and UTF-8.
#include "base/platform/Native.h"

#include <Ovra/Bases/StringConv.h>

#include <dlfcn.h>

#include <mutex>
#include <thread>

namespace Ovra {
namespace native {

struct Lock {
    std::recursive_mutex mutex;
};

Lock* NewLock() {
    return new Lock;
}
void DeleteLock(Lock* lock) {
    delete lock;
}
void Acquire(Lock* lock) {
    lock->mutex.lock();
}
void Release(Lock* lock) {
    lock->mutex.unlock();
}

struct Thread {
    std::thread thread;
};

Thread* StartThread(void (*body)(void*), void* argument) {
    try {
        return new Thread{std::thread(body, argument)};
    } catch (...) {
        return nullptr;
    }
}
void JoinThread(Thread* thread) {
    thread->thread.join();
    delete thread;
}
void DetachThread(Thread* thread) {
    thread->thread.detach();
    delete thread;
}
bool IsCurrentThread(const Thread* thread) {
    return thread->thread.get_id() == std::this_thread::get_id();
}

bool ModuleDirOf(const void* address, std::wstring& dir) {
    Dl_info info{};
    if (!::dladdr(address, &info) || !info.dli_fname) return false;
    std::wstring path = utf8_to_tcs(info.dli_fname);
    const std::wstring::size_type slash = path.rfind(L'/');
    if (slash == std::wstring::npos) return false;
    dir = slash == 0 ? std::wstring(L"/") : path.substr(0, slash);
    return true;
}

// Linux systems speak UTF-8; the C locale of a process that never called setlocale would
// otherwise turn every non-ASCII byte into a failure.
std::string WideToMultibyte(const std::wstring& text) {
    return tcs_to_utf8(text);
}
std::wstring MultibyteToWide(const std::string& text) {
    return utf8_to_tcs(text);
}

}  // namespace native
}  // namespace Ovra
