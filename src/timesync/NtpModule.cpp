#include "src/timesync/NtpModule.h"

#include <Ovra/Bases/ModuleDir.h>

namespace Ovra {

namespace {
#if defined(_WIN32)
const wchar_t kLibraryName[] = L"\\libntp.dll";
#else
const wchar_t kLibraryName[] = L"/libntp.so";
#endif

using GetNtpTimeFunction = int (*)(const std::wstring& server, long long& time);
}  // namespace

TimeSyncService::NtpModule* TimeSyncService::NtpModule::Load() {
    std::wstring dir;
    if (!GetModuleDir(dir)) return nullptr;  // inline: resolves to this library's folder
    const std::wstring path = dir + kLibraryName;
    platform::Module handle = platform::Sys().LoadLibraryW(path.c_str());
    return handle ? new NtpModule(handle) : nullptr;
}

void TimeSyncService::NtpModule::Release() {
    if (m_holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    platform::Sys().FreeLibrary(m_handle);
    delete this;
}

int TimeSyncService::NtpModule::Query(const std::wstring& server, long long& time) const {
    // Looked up for every query, as a library may export it late or not at all.
    void* symbol = platform::Sys().GetProcAddress(m_handle, "GetNtpTime");
    if (!symbol) return 1;
    return reinterpret_cast<GetNtpTimeFunction>(symbol)(server, time);
}

}  // namespace Ovra
