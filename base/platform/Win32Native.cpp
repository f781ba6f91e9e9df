// Win32 halves of the base runtime: critical sections, _beginthreadex threads, module paths and
// the ANSI code page.
#include "base/platform/Native.h"

#include <process.h>
#include <windows.h>

namespace Ovra {
namespace native {

struct Lock {
    CRITICAL_SECTION section;
};

Lock* NewLock() {
    Lock* lock = new Lock;
    ::InitializeCriticalSection(&lock->section);
    return lock;
}
void DeleteLock(Lock* lock) {
    ::DeleteCriticalSection(&lock->section);
    delete lock;
}
void Acquire(Lock* lock) {
    ::EnterCriticalSection(&lock->section);
}
void Release(Lock* lock) {
    ::LeaveCriticalSection(&lock->section);
}

struct Thread {
    HANDLE handle;
    DWORD id;
    void (*body)(void*);
    void* argument;
};

namespace {
unsigned __stdcall Trampoline(void* argument) {
    Thread* thread = static_cast<Thread*>(argument);
    thread->body(thread->argument);
    return 0;
}
}  // namespace

Thread* StartThread(void (*body)(void*), void* argument) {
    Thread* thread = new Thread{nullptr, 0, body, argument};
    // Suspended until the record is complete, so the body never sees a half-filled one.
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, &Trampoline, thread, CREATE_SUSPENDED, &id);
    if (handle == 0) {
        delete thread;
        return nullptr;
    }
    thread->handle = reinterpret_cast<HANDLE>(handle);
    thread->id = id;
    ::ResumeThread(thread->handle);
    return thread;
}
void JoinThread(Thread* thread) {
    ::WaitForSingleObject(thread->handle, INFINITE);
    ::CloseHandle(thread->handle);
    delete thread;
}
void DetachThread(Thread* thread) {
    ::CloseHandle(thread->handle);
    delete thread;
}
bool IsCurrentThread(const Thread* thread) {
    return thread->id == ::GetCurrentThreadId();
}

bool ModuleDirOf(const void* address, std::wstring& dir) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
        return false;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return false;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated: long path
    }
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    dir = path.substr(0, slash);
    return true;
}

std::string WideToMultibyte(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring MultibyteToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, &out[0], size);
    return out;
}

}  // namespace native
}  // namespace Ovra
