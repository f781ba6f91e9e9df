#pragma once

// A library loaded through the seam and shared by reference: copies of a service hold the same
// LoadedModule, and the last holder to let go frees the library, once.

#include "base/platform/Platform.h"

#include <memory>
#include <string>

namespace Ovra {
namespace platform {

class LoadedModule {
public:
    // Null when the library cannot be loaded.
    static std::shared_ptr<LoadedModule> Load(const std::wstring& path) {
        Module module = Sys().LoadLibraryW(path.c_str());
        if (!module) return nullptr;
        return std::shared_ptr<LoadedModule>(new LoadedModule(module));
    }
    ~LoadedModule() { Sys().FreeLibrary(m_module); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // The address of an export, or null.
    void* Symbol(const char* name) const { return Sys().GetProcAddress(m_module, name); }
    Module Get() const { return m_module; }

private:
    explicit LoadedModule(Module module) : m_module(module) {}
    Module m_module;
};

}  // namespace platform
}  // namespace Ovra
