#include <Ovra/Bases/Cs.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <mutex>
#endif

namespace Ovra {

#if defined(_WIN32)
struct Cs::Impl {
    CRITICAL_SECTION section;
    Impl() { ::InitializeCriticalSection(&section); }
    ~Impl() { ::DeleteCriticalSection(&section); }
    void Lock() { ::EnterCriticalSection(&section); }
    void Unlock() { ::LeaveCriticalSection(&section); }
};
#else
struct Cs::Impl {
    std::recursive_mutex mutex;
    void Lock() { mutex.lock(); }
    void Unlock() { mutex.unlock(); }
};
#endif

Cs::Cs() : m_impl(new Impl) {}
Cs::Cs(const Cs&) : m_impl(new Impl) {}
Cs& Cs::operator=(const Cs&) {
    return *this;
}
Cs::~Cs() {
    delete m_impl;
}
void Cs::Lock() {
    m_impl->Lock();
}
void Cs::Unlock() {
    m_impl->Unlock();
}

}  // namespace Ovra
