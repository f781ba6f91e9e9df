#include <Ovra/Bases/ModuleDir.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <Ovra/Bases/StringConv.h>

#include <dlfcn.h>
#endif

namespace Ovra {

int GetModuleDirOf(const void* address, std::wstring& dir) {
#if defined(_WIN32)
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
        return 0;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return 0;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated: long path
    }
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return 0;
    dir = path.substr(0, slash);
    return 1;
#else
    Dl_info info{};
    if (!::dladdr(address, &info) || !info.dli_fname) return 0;
    std::wstring path = utf8_to_tcs(info.dli_fname);
    const std::wstring::size_type slash = path.rfind(L'/');
    if (slash == std::wstring::npos) return 0;
    dir = slash == 0 ? std::wstring(L"/") : path.substr(0, slash);
    return 1;
#endif
}

}  // namespace Ovra
