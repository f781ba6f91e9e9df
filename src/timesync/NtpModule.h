#pragma once

#include <Ovra/TimeSyncService.h>

#include "base/platform/Platform.h"

#include <atomic>
#include <string>

namespace Ovra {

// The loaded libntp, shared by a service and its copies: the last holder to let go frees it.
class TimeSyncService::NtpModule {
public:
    // Loads libntp from the folder of this library; null when that fails.
    static NtpModule* Load();

    void AddHolder() { m_holders.fetch_add(1, std::memory_order_relaxed); }
    // Drops one hold; the last one frees the library and this record.
    void Release();
    // What "GetNtpTime" returns for `server`, or 1 when the library lacks it.
    int Query(const std::wstring& server, long long& time) const;

private:
    explicit NtpModule(platform::Module handle) : m_handle(handle), m_holders(1) {}

    platform::Module m_handle;
    std::atomic<int> m_holders;
};

}  // namespace Ovra
