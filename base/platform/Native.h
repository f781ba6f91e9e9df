#pragma once

// The operating-system primitives under the base runtime that are not calls of the seam: a
// recursive lock, a joinable thread, the file of a loaded module and the system code page. One
// implementation per platform (Win32Native.cpp, PosixNative.cpp); the build picks one.

#include <string>

namespace Ovra {
namespace native {

struct Lock;  // a lock its holder may take again
Lock* NewLock();
void DeleteLock(Lock* lock);
void Acquire(Lock* lock);
void Release(Lock* lock);

struct Thread;  // a running thread, owned by whoever started it
// Runs body(argument) on a new thread; null when the system refuses.
Thread* StartThread(void (*body)(void*), void* argument);
void JoinThread(Thread* thread);    // waits for the end, then frees the record
void DetachThread(Thread* thread);  // frees the record, the thread runs on
bool IsCurrentThread(const Thread* thread);

// The folder of the module that contains `address`, without a trailing separator.
bool ModuleDirOf(const void* address, std::wstring& dir);

// The system's multibyte code page (the ANSI code page on Windows, UTF-8 on Linux).
std::string WideToMultibyte(const std::wstring& text);
std::wstring MultibyteToWide(const std::string& text);

}  // namespace native
}  // namespace Ovra
