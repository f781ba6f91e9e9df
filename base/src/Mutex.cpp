#include <Ovra/Bases/Mutex.h>

#include "base/platform/Platform.h"

namespace Ovra {

using platform::Sys;

Mutex::Mutex(const wchar_t* name) : m_handle(Sys().CreateMutexW(name)) {}

Mutex::~Mutex() {
    if (m_handle) Sys().CloseHandle(m_handle);
}

int Mutex::Lock(unsigned int timeout) {
    if (!m_handle) return 0;
    platform::Handle handle = m_handle;
    std::uint32_t result = Sys().WaitForMultipleObjects(1, &handle, 0, timeout);
    // An abandoned mutex (its holder died) is ours now, and whatever it guarded is consistent
    // for our purposes: the formatter's guard protects no data.
    return result == platform::kWaitObject0 || result == platform::kWaitAbandoned0 ? 1 : 0;
}

void Mutex::Unlock() {
    if (m_handle) Sys().ReleaseMutex(m_handle);
}

}  // namespace Ovra
