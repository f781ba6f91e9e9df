#pragma once

// A library loaded at run time through the seam and shared by the copies of the object that loaded
// it: loaded once, freed once with its last holder.

#include "base/platform/Platform.h"
#include "src/SharedRecord.h"

#include <new>
#include <string>

namespace Ovra {

class SharedLibrary : public SharedRecord<SharedLibrary> {
public:
    // The caller holds the first reference; null when the library cannot be loaded.
    static SharedLibrary* Load(const std::wstring& path) {
        const platform::Module module = platform::Sys().LoadLibraryW(path.c_str());
        if (!module) return nullptr;
        SharedLibrary* library = new (std::nothrow) SharedLibrary(module);
        if (!library) platform::Sys().FreeLibrary(module);
        return library;
    }

    // The address of an export, or null.
    void* Symbol(const char* name) const { return platform::Sys().GetProcAddress(m_module, name); }

private:
    friend class SharedRecord<SharedLibrary>;  // the last Release deletes
    explicit SharedLibrary(platform::Module module) : m_module(module) {}
    ~SharedLibrary() { platform::Sys().FreeLibrary(m_module); }

    const platform::Module m_module;
};

}  // namespace Ovra
