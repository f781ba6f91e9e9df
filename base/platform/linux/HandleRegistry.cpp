#include "base/platform/linux/HandleRegistry.h"

namespace Ovra {
namespace platform {
namespace posix {

namespace {
std::uintptr_t Key(Handle handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}
}  // namespace

Handle HandleRegistry::Issue(const Guard& guard, HandleObject* object) {
    Hold(guard, object);
    m_next += 4;  // as Windows counts them: never null, never INVALID_HANDLE_VALUE
    m_handles[m_next] = object;
    return reinterpret_cast<Handle>(m_next);
}

Handle HandleRegistry::Add(const Guard& guard, std::unique_ptr<HandleObject> object) {
    return Issue(guard, object.release());
}

HandleObject* HandleRegistry::Find(const Guard&, Handle handle) const {
    const auto it = m_handles.find(Key(handle));
    return it == m_handles.end() ? nullptr : it->second;
}

HandleObject* HandleRegistry::Find(const Guard& guard, Handle handle, HandleKind kind) const {
    HandleObject* object = Find(guard, handle);
    return object && object->kind == kind ? object : nullptr;
}

Handle HandleRegistry::Duplicate(const Guard& guard, Handle handle) {
    HandleObject* object = Find(guard, handle);
    return object ? Issue(guard, object) : nullptr;
}

bool HandleRegistry::Close(const Guard& guard, Handle handle) {
    const auto it = m_handles.find(Key(handle));
    if (it == m_handles.end()) return false;
    HandleObject* object = it->second;
    m_handles.erase(it);
    Release(guard, object);
    return true;
}

void HandleRegistry::Hold(const Guard&, HandleObject* object) {
    ++object->m_holders;
}

void HandleRegistry::Release(const Guard&, HandleObject* object) {
    if (--object->m_holders == 0) delete object;
}

HandleRegistry& Handles() {
    static HandleRegistry* registry = new HandleRegistry;  // used until exit
    return *registry;
}

}  // namespace posix
}  // namespace platform
}  // namespace Ovra
