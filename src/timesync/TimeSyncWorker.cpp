// The worker of the time-sync service, its queries and the clock-setting sequence.
#include <Ovra/TimeSyncService.h>

#include <Ovra/ResultCodes.h>
#include <ntp/Ntp.h>

#include "base/platform/Platform.h"
#include "src/SharedLibrary.h"
#include "src/timesync/ObserverSlot.h"

#include <cstdint>

namespace Ovra {

namespace {
const std::uint32_t kPauseMs = 10000;
const std::uint32_t kStopped = platform::kWaitObject0;
const std::uint32_t kRequested = platform::kWaitObject0 + 1;

// From libntp's own declaration; the library is loaded by name at run time, never linked.
using GetNtpTimeFunction = decltype(&::GetNtpTime);
}  // namespace

unsigned int TimeSyncService::OnThreadEntry() {
    // The stop request comes first, so it wins over a request or a pause that is also signalled.
    const platform::Handle stop = GetStopThreadEvent();
    const platform::Handle mainPair[2] = {stop, m_requestEvent.GetHandle()};
    for (;;) {
        const std::uint32_t result =
            platform::Sys().WaitForMultipleObjects(2, mainPair, 0, ScheduleWaitMs());
        if (result == kStopped) return 0;
        if (result != kRequested && result != platform::kWaitTimeout) continue;

        std::wstring requested;
        int scheduleEnabled;
        std::list<std::wstring> servers;
        {
            CsLocker lock(m_cs);
            scheduleEnabled = m_scheduleEnabled;
            servers = m_scheduleServers;
        }
        if (result == kRequested) {
            CsLocker lock(m_cs);
            if (m_requests.empty()) {
                // Reset only here: while requests remain, each gets a wake-up of its own.
                m_requestEvent.Reset();
                continue;
            }
            requested.swap(m_requests.front());
            m_requests.pop_front();
        } else if (!scheduleEnabled) {
            continue;
        }

        long long time = 0;
        std::wstring server;
        SyncOnce(requested, servers, time, server);
        if (time != 0) SetClock(time, server);
    }
}

unsigned int TimeSyncService::ScheduleWaitMs() {
    CsLocker lock(m_cs);
    return static_cast<unsigned int>(static_cast<unsigned long long>(m_scheduleTime));
}

void TimeSyncService::SyncOnce(const std::wstring& requested,
                               const std::list<std::wstring>& servers, long long& time,
                               std::wstring& server) {
    if (!requested.empty()) {
        Attempt(requested, time);
        server = requested;
        return;
    }
    for (const std::wstring& name : servers) {
        Attempt(name, time);
        if (time != 0) {
            server = name;
            return;
        }
        if (!PauseBetweenServers()) return;  // stopped: the next main wait sees it too
    }
}

void TimeSyncService::Attempt(const std::wstring& server, long long& time) {
    time = 0;
    const int code = GetNetworkTime(server, time);
    if (code == 0) return;
    time = 0;
    m_observer->Notify(this, code, time, server);
}

bool TimeSyncService::PauseBetweenServers() {
    const platform::Handle pausePair[2] = {GetStopThreadEvent(), m_pauseEvent.GetHandle()};
    return platform::Sys().WaitForMultipleObjects(2, pausePair, 0, kPauseMs) != kStopped;
}

int TimeSyncService::GetNetworkTime(const std::wstring& server, long long& time) {
    if (!m_ntpModule) return result::kFailed;
    // Looked up for every query, as a library may export it late or not at all.
    void* symbol = m_ntpModule->Symbol("GetNtpTime");
    if (!symbol) return result::kFailed;
    return reinterpret_cast<GetNtpTimeFunction>(symbol)(server, time);
}

int TimeSyncService::SetSystemTime(long long time) {
    return SetSystemTime(time, std::wstring());
}

int TimeSyncService::SetSystemTime(long long time, const std::wstring& server) {
    return SetClock(time, server);
}

int TimeSyncService::SetClock(long long& time, const std::wstring& server) {
    // No lock spans the sequence: each call goes to the observer of its moment, so one replaced
    // after the 1901 call does not hear the result.
    m_observer->Notify(this, result::kClockAboutToBeSet, time, server);
    const int result = SetCurTime(time) ? result::kOk : result::kSystemFailed;
    m_observer->Notify(this, result, time, server);
    return result;
}

}  // namespace Ovra
