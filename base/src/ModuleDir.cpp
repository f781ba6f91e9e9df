#include <Ovra/Bases/ModuleDir.h>

#include "base/platform/Native.h"

namespace Ovra {

int GetModuleDirOf(const void* address, std::wstring& dir) {
    return native::ModuleDirOf(address, dir) ? 1 : 0;
}

}  // namespace Ovra
