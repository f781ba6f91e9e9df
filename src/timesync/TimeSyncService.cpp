// Life cycle, copies and configuration of the time-sync service; the worker and the clock
// setting are in TimeSyncWorker.cpp.
#include <Ovra/TimeSyncService.h>

#include <Ovra/Bases/ModuleDir.h>
#include <Ovra/ResultCodes.h>

#include "src/SharedLibrary.h"
#include "src/timesync/ObserverSlot.h"

#include <climits>

namespace Ovra {

namespace {
const long long kDefaultPeriodMs = 3600000;
const long long kMinutesToMs = 60000;
const long long kShortestPeriodMinutes = 10;
const wchar_t kDefaultServer[] = L"pool.ntp.org";
}  // namespace

TimeSyncService::TimeSyncService()
    : m_observer(new ObserverSlot),
      m_ntpModule(nullptr),
      m_created(0),
      m_scheduleTime(kDefaultPeriodMs),
      m_scheduleEnabled(0),
      m_scheduleServers(1, kDefaultServer) {}

TimeSyncService::TimeSyncService(const TimeSyncService& other)
    : Service(other), m_observer(new ObserverSlot), m_ntpModule(nullptr), m_created(0) {
    *this = other;
}

TimeSyncService& TimeSyncService::operator=(const TimeSyncService& other) {
    if (this == &other) return *this;
    // This service's worker and library hold go first: the members below change under them.
    Destroy();
    Service::operator=(other);

    long long scheduleTime;
    int scheduleEnabled;
    std::list<std::wstring> servers;
    std::list<std::wstring> requests;
    {
        CsLocker lock(const_cast<Cs&>(other.m_cs));
        scheduleTime = other.m_scheduleTime;
        scheduleEnabled = other.m_scheduleEnabled;
        servers = other.m_scheduleServers;
        requests = other.m_requests;
        m_requestEvent = other.m_requestEvent;
        m_pauseEvent = other.m_pauseEvent;
    }
    m_observer->Set(other.m_observer->Get());
    {
        CsLocker lock(m_cs);
        m_scheduleTime = scheduleTime;
        m_scheduleEnabled = scheduleEnabled;
        m_scheduleServers.swap(servers);
        m_requests.swap(requests);
    }
    Reassign(m_ntpModule, other.m_ntpModule);
    m_created = other.m_created;
    return *this;
}

TimeSyncService::~TimeSyncService() {
    // Also ends a worker left running by a Destroy from inside its own observer call.
    StopThread(kInfinite, 1);
    if (m_created) {
        Stop();
        Reassign(m_ntpModule, nullptr);
        m_created = 0;
    }
}

int TimeSyncService::Create() {
    if (m_created) return result::kExists;
    std::wstring dir;
    // Inline, so it resolves to this library's folder, not the host's.
    if (!GetModuleDir(dir)) return result::kSystemFailed;
    const platform::BackendTraits& traits = platform::Traits();
    m_ntpModule =
        SharedLibrary::Load(dir + traits.pathSeparator + L"libntp" + traits.librarySuffix);
    if (!m_ntpModule) return result::kSystemFailed;
    m_created = 1;
    return result::kOk;
}

void TimeSyncService::Destroy() {
    if (!m_created) return;
    Stop();
    Reassign(m_ntpModule, nullptr);
    m_created = 0;
}

int TimeSyncService::Start() {
    if (!m_created) return result::kMissing;
    if (IsThreadRunning()) return result::kAlreadyOpen;
    {
        CsLocker lock(m_cs);
        m_requestEvent.Create(1, 0, nullptr);
        m_pauseEvent.Create(1, 0, nullptr);
    }
    return StartThread(0) ? result::kOk : result::kSystemFailed;
}

void TimeSyncService::Stop() {
    if (!m_created) return;
    // From the worker itself StopThread cannot wait: the worker still waits on the events, so
    // they stay open until the next Start or the destructor.
    if (!StopThread(kInfinite, 1)) return;
    CsLocker lock(m_cs);
    m_requestEvent.Close();
    m_pauseEvent.Close();
}

void TimeSyncService::SetObserver(TimeSyncServiceObserver* observer) {
    m_observer->Set(observer);
}

void TimeSyncService::EnableScheduleSync(int enable) {
    CsLocker lock(m_cs);
    m_scheduleEnabled = enable;
}

void TimeSyncService::SetScheduleTime(const long long& minutes) {
    if (minutes < kShortestPeriodMinutes) return;
    // Periods too long to count in milliseconds are held as the longest one (no overflow).
    const long long period =
        minutes > LLONG_MAX / kMinutesToMs ? LLONG_MAX : minutes * kMinutesToMs;
    CsLocker lock(m_cs);
    m_scheduleTime = period;
}

void TimeSyncService::SetScheduleTimeServer(const std::list<std::wstring>& servers) {
    CsLocker lock(m_cs);
    if (&servers != &m_scheduleServers) m_scheduleServers = servers;
}

void TimeSyncService::GetScheduleTimeServer(std::list<std::wstring>& servers) const {
    CsLocker lock(const_cast<Cs&>(m_cs));
    if (&servers != &m_scheduleServers) servers = m_scheduleServers;
}

void TimeSyncService::SyncTimeServerNow() {
    SyncTimeServerNow(std::wstring());
}

void TimeSyncService::SyncTimeServerNow(const std::wstring& server) {
    CsLocker lock(m_cs);
    m_requests.push_back(server);
    m_requestEvent.Set();
}

int TimeSyncService::SetSystemTimeZone(const TimeZone& timeZone) {
    CsLocker lock(m_cs);
    return SetTimeZone(timeZone) ? result::kOk : result::kSystemFailed;
}

}  // namespace Ovra
