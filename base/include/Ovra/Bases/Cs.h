#pragma once

#include <Ovra/Bases/Export.h>

namespace Ovra {

// A critical section: an in-process lock that the holding thread may take again. A copy is a new,
// free lock (a lock guards its own object's data, never the source's).
class OVRA_BASES_API Cs {
public:
    Cs();
    Cs(const Cs& other);
    Cs& operator=(const Cs& other);
    ~Cs();

    void Lock();
    void Unlock();

private:
    struct Impl;
    Impl* m_impl;
};

// Holds a Cs from construction to destruction.
class CsLocker {
public:
    explicit CsLocker(Cs& cs) : m_cs(cs) { m_cs.Lock(); }
    ~CsLocker() { m_cs.Unlock(); }
    CsLocker(const CsLocker&) = delete;
    CsLocker& operator=(const CsLocker&) = delete;

private:
    Cs& m_cs;
};

}  // namespace Ovra
