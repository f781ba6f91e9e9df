#pragma once

#include <Ovra/Bases/Export.h>
#include <Ovra/Bases/Wait.h>

namespace Ovra {

// A system-wide named mutex: every process that uses the same name shares it. It is owned by
// the thread that took it and may be taken again by that thread (each Lock needs an Unlock). A
// process that dies while holding it does not block the others: the next Lock succeeds.
class OVRA_BASES_API Mutex {
public:
    explicit Mutex(const wchar_t* name);
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Tries for up to `timeout` ms (0: at once; kInfinite: no limit). Nonzero when held now.
    int Lock(unsigned int timeout);
    void Unlock();

private:
    void* m_handle;
};

}  // namespace Ovra
