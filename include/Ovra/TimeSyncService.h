#pragma once

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/Cs.h>
#include <Ovra/Bases/Event.h>
#include <Ovra/Export.h>
#include <Ovra/PlatformCommon/Service.h>

#include <list>
#include <memory>
#include <string>

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of an exported class
#endif

namespace Ovra {

class SharedLibrary;
class TimeSyncService;

// Told of every failed attempt and of every change of the clock. `code`: 1901 the clock is about
// to be set to `time`; 0 it was set; 105 setting it failed; 1 the network-time library or its
// "GetNtpTime" is missing; any other value is what "GetNtpTime" returned for `server`. After a
// failure `time` is 0. `time` is the service's own variable: what stands there after a 1901 call
// is what the clock is set to, and a nonzero value left there by a failure call counts as a time
// obtained from `server`. `server` is empty for SetSystemTime(time).
//
// Calls come on the worker thread, or on the caller's thread for SetSystemTime, with no lock of
// the service held: an observer may call back into the service, SetObserver included. Each call
// goes to the observer set at its moment, so the two calls around one clock change may go to
// different observers.
class TimeSyncServiceObserver {
public:
    virtual void OnTimeSync(TimeSyncService* service, int code, long long& time,
                            const std::wstring& server) = 0;

protected:
    ~TimeSyncServiceObserver() = default;  // not deleted through this interface
};

// Keeps the clock in step with network time servers, on a schedule and on request, and sets the
// system time and time zone.
//
// The network query is done by "GetNtpTime" of libntp, loaded by Create from the folder of this
// library: "libntp.dll" on Windows, "libntp.so" on Linux. The export is looked up anew for every
// query, so a library replaced between Destroy and Create is picked up.
//
// Defaults: period one hour, scheduled synchronisation off, one server "pool.ntp.org".
//
// Copies: a copy of a created service is created too and shares the loaded library, which is
// freed once, when its last holder is destroyed or Destroyed. Destroy (or assignment) of one copy
// therefore never pulls the library from under another copy's worker. A copy does not run a
// worker; it gets events of its own at its first Start. Assigning onto a created service first
// stops that service's worker and drops its hold on its library.
//
// A class derived from this one stops the worker in its own destructor (StopThread or Destroy):
// the worker runs virtual code of the object.
//
// Observer: after SetObserver returns, the observer it replaced is never called again. SetObserver
// waits for calls of it already running on other threads (never for the call it is made from), so
// an observer must not wait for another thread that is inside SetObserver.
class OVRA_PLATFORM_MISC_API TimeSyncService : public Service {
public:
    TimeSyncService();
    TimeSyncService(const TimeSyncService& other);
    TimeSyncService& operator=(const TimeSyncService& other);
    ~TimeSyncService() override;

    // 0; 116 when already created; 105 when libntp cannot be loaded.
    int Create() override;
    // Stops the worker and drops this service's hold on libntp. Nothing when not created.
    void Destroy() override;
    // 0; 122 when not created; 120 when the worker runs; 105 when the thread cannot start.
    int Start() override;
    // Stops the worker and waits for it without a time limit. Called from the worker itself (by
    // an observer) it only asks the worker to stop.
    void Stop() override;

    // Null removes the observer.
    void SetObserver(TimeSyncServiceObserver* observer);
    // Nonzero: a period that passes synchronises over the schedule servers; 0: it does nothing.
    void EnableScheduleSync(int enable);
    // The period in minutes; values below 10 are ignored. Takes effect at the next wait. The wait
    // uses the low 32 bits of the period in milliseconds (periods beyond about 49 days wrap).
    void SetScheduleTime(const long long& minutes);
    // Servers tried in turn by a pass, with a 10-second pause after each failure.
    void SetScheduleTimeServer(const std::list<std::wstring>& servers);
    void GetScheduleTimeServer(std::list<std::wstring>& servers) const;
    // Queues an immediate pass over the schedule servers (scheduling need not be enabled).
    void SyncTimeServerNow();
    // Queues one attempt at `server`, with no fall-back to the schedule servers.
    void SyncTimeServerNow(const std::wstring& server);
    // 0, or 105 when the system refused the zone.
    int SetSystemTimeZone(const TimeZone& timeZone);
    // Sets the clock (milliseconds, as SetCurTime takes), telling the observer: 0 or 105.
    int SetSystemTime(long long time);

protected:
    int SetSystemTime(long long time, const std::wstring& server);
    // One query: what "GetNtpTime" returned, or 1 when libntp or its export is missing.
    int GetNetworkTime(const std::wstring& server, long long& time);

private:
    class ObserverSlot;

    unsigned int OnThreadEntry() override;
    // Runs one wake-up's attempts; the time obtained (0: none) and the server it came from.
    void SyncOnce(const std::wstring& requested, const std::list<std::wstring>& servers,
                  long long& time, std::wstring& server);
    // Queries `server` and reports a failure; the time obtained, or 0.
    void Attempt(const std::wstring& server, long long& time);
    // The 10-second pause of a pass; false when a stop request ended it.
    bool PauseBetweenServers();
    unsigned int ScheduleWaitMs();
    int SetClock(long long& time, const std::wstring& server);

    std::unique_ptr<ObserverSlot> m_observer;
    SharedLibrary* m_ntpModule;  // shared by copies; null when not created
    int m_created;
    long long m_scheduleTime;
    int m_scheduleEnabled;
    std::list<std::wstring> m_scheduleServers;
    std::list<std::wstring> m_requests;  // an empty name asks for a pass over the servers
    Event m_requestEvent;                // set while requests may be pending
    Event m_pauseEvent;                  // ends a pause when set; nothing here sets it
};

}  // namespace Ovra

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
