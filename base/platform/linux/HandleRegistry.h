#pragma once

// The handles the POSIX backend gives out (events, named mutexes, disks, volumes): each names one
// object of one kind, which lives while a handle or a call using it holds it. Handle values are
// never reused, so a closed handle is never found again, not even by a later object's address.
//
// One lock guards the handles and the state of the events and mutexes too, so that a wait can
// look at several objects at once. Every entry takes the lock's guard to show it is held.

#include "base/platform/Platform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace Ovra {
namespace platform {
namespace posix {

enum class HandleKind { kEvent, kMutex, kDisk, kVolume };

struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    virtual ~HandleObject() = default;  // runs with the lock held
    const HandleKind kind;

private:
    friend class HandleRegistry;
    int m_holders = 0;
};

class HandleRegistry {
public:
    using Guard = std::unique_lock<std::mutex>;

    Guard Lock() { return Guard(m_mu); }

    // A new handle to `object`, which the registry owns from now on.
    Handle Add(const Guard&, std::unique_ptr<HandleObject> object);
    // The object of an open handle of `kind`; null for any other handle.
    HandleObject* Find(const Guard&, Handle handle, HandleKind kind) const;
    // The object of an open handle of any kind; null when `handle` is unknown.
    HandleObject* Find(const Guard&, Handle handle) const;
    // A second handle to the object of `handle`; null when `handle` is unknown.
    Handle Duplicate(const Guard& guard, Handle handle);
    // Closes `handle`; its object goes with the last holder. False when `handle` is unknown.
    bool Close(const Guard& guard, Handle handle);
    // Keeps `object` alive for a call that uses it while another thread may close its handles.
    void Hold(const Guard&, HandleObject* object);
    void Release(const Guard&, HandleObject* object);

private:
    Handle Issue(const Guard& guard, HandleObject* object);

    std::mutex m_mu;
    std::map<std::uintptr_t, HandleObject*> m_handles;
    std::uintptr_t m_next = 0x10000;
};

// The backend's one registry.
HandleRegistry& Handles();

// The object of a handle of one kind, held while a call uses it without the lock; empty when the
// handle is no open handle of that kind.
template <typename T>
class Borrowed {
public:
    Borrowed(Handle handle, HandleKind kind) {
        auto guard = Handles().Lock();
        m_object = static_cast<T*>(Handles().Find(guard, handle, kind));
        if (m_object) Handles().Hold(guard, m_object);
    }
    ~Borrowed() {
        if (!m_object) return;
        auto guard = Handles().Lock();
        Handles().Release(guard, m_object);
    }
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;

    T& operator*() const { return *m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
