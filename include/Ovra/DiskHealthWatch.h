#pragma once

// A worker that watches disks: it reads every chosen disk once per poll, compares the reading with
// the previous one and tells an observer each change, and starts the drives' self-tests on a
// schedule. Time and waits go through the platform seam, so a test can drive days in milliseconds.

#include <Ovra/DiskHealth.h>
#include <Ovra/Export.h>

#include <map>
#include <string>
#include <vector>

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of exported records
#endif

namespace Ovra {

// One change the watch noticed, or the test event.
struct DiskHealthEvent {
    enum Type {
        VerdictChanged = 0,    // from, to: verdict words; detail: the reasons, "; "-separated
        CounterIncreased = 1,  // detail: which counter ("5 Reallocated Sectors Count", "media
                               // errors"); from, to: its values
        ErrorsLogged = 2,      // from, to: the device's error count
        SelfTestStarted = 3,   // detail: the kind ("unknown": not started by the watch)
        SelfTestPassed = 4,    // detail: the kind
        SelfTestFailed = 5,    // detail: kind, result and first failing LBA; a scheduled start
                               // the disk refused: "not started: " kind, reason
        TemperatureHigh = 6,   // from, to: °C; detail: the limit crossed ("warning 50", ...)
        TemperatureNormal = 7,
        DiskAdded = 8,
        DiskRemoved = 9,
        TestEvent = 10  // SendTestEvent: checks that notifications arrive
    };
    Type type = TestEvent;
    long long time = 0;  // ms on the scale of GetCurTime
    long long disk = -1;
    std::wstring from;
    std::wstring to;
    std::wstring detail;
};

// "verdict-changed", "counter-increased", "errors-logged", "selftest-started",
// "selftest-passed", "selftest-failed", "temperature-high", "temperature-normal", "disk-added",
// "disk-removed", "test"; "unknown" for other numbers.
OVRA_PLATFORM_MISC_API const wchar_t* DiskHealthEventName(int type);

class DiskHealthWatch;

// Implemented by the host. Called on the watch's worker, one event at a time and with no lock
// held: it may call back into the watch (but not destroy it).
class DiskHealthWatchObserver {
public:
    virtual void OnDiskHealthEvent(DiskHealthWatch* watch, const DiskHealthEvent& event) = 0;
    // After every poll, once its events were told; `poll` counts from 1.
    virtual void OnDiskHealthPoll(DiskHealthWatch* watch, long long poll) {
        (void)watch;
        (void)poll;
    }

protected:
    virtual ~DiskHealthWatchObserver() = default;
};

struct DiskHealthWatchData;

// Not copyable: one worker, one set of readings. Settings may change while it runs; they take
// effect at the next poll. The first poll reads the disks and reports only disks that are
// already failing or too hot; it never starts a test.
class OVRA_PLATFORM_MISC_API DiskHealthWatch {
public:
    DiskHealthWatch();
    ~DiskHealthWatch();  // stops the worker and waits for it
    DiskHealthWatch(const DiskHealthWatch&) = delete;
    DiskHealthWatch& operator=(const DiskHealthWatch&) = delete;

    // The disks to read; empty (the default): every disk 0 to 31 that answers.
    void SetDisks(const std::vector<long long>& disks);
    // Time between polls in ms (default 1800000, half an hour); values below 1 become 1.
    void SetPollInterval(long long milliseconds);
    // Self-tests in smartd's -s syntax: an extended regular expression matched against
    // "T/MM/DD/d/HH" (T one of S short, L extended, C conveyance; d 1 Monday .. 7 Sunday; local
    // time), e.g. "(S/../.././02|L/../../6/03)". A test starts at most once per disk and matching
    // hour, never while one runs and never on the first poll; disks that cannot run tests are
    // left out. Empty: none. 0, or 141 for an expression that does not compile (the old schedule
    // stays).
    int SetSelfTestSchedule(const std::wstring& schedule);
    // Temperature limits in °C; 0 turns a limit off (default: warning 60, critical off). The
    // watch tells temperature-high once for each limit a disk goes above, and temperature-normal
    // when it is back at or below `warning` (or `critical` when `warning` is off).
    void SetTemperatureLimits(int warning, int critical);
    // Null removes it; a poll under way tells the observer it had already read.
    void SetObserver(DiskHealthWatchObserver* observer);

    // Starts the worker: 0, or 120 when it runs. Stop asks it to end and waits (not from the
    // observer, where it only asks).
    int Start();
    void Stop();
    bool IsRunning() const;

    // The last reading of every disk the watch knows, by disk number.
    std::map<long long, DiskHealth> GetReadings() const;
    // Tells the observer one TestEvent on the calling thread, as a poll would.
    void SendTestEvent();

private:
    DiskHealthWatchData* m_data;
};

}  // namespace Ovra

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
