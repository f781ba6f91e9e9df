#include <Ovra/Bases/Cs.h>

#include "base/platform/Native.h"

namespace Ovra {

struct Cs::Impl {
    native::Lock* lock = native::NewLock();
    ~Impl() { native::DeleteLock(lock); }
};

Cs::Cs() : m_impl(new Impl) {}
Cs::Cs(const Cs&) : m_impl(new Impl) {}
Cs& Cs::operator=(const Cs&) {
    return *this;
}
Cs::~Cs() {
    delete m_impl;
}
void Cs::Lock() {
    native::Acquire(m_impl->lock);
}
void Cs::Unlock() {
    native::Release(m_impl->lock);
}

}  // namespace Ovra
