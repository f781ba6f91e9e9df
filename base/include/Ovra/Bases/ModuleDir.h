#pragma once

#include <Ovra/Bases/Export.h>

#include <string>

namespace Ovra {

// The directory of the module (DLL, shared object or executable) that contains `address`, without
// a trailing separator. Nonzero on success; `dir` is untouched on failure.
OVRA_BASES_API int GetModuleDirOf(const void* address, std::wstring& dir);

// The directory of the calling library. Inline on purpose: each module that calls it compiles its
// own copy, so the anchor below lies in the caller's module, not in this one.
inline int GetModuleDir(std::wstring& dir) {
    static const char anchor = 0;
    return GetModuleDirOf(&anchor, dir);
}

}  // namespace Ovra
