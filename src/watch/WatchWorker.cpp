#include "src/watch/WatchWorker.h"

#include <Ovra/ResultCodes.h>

#include "base/platform/DeviceHandle.h"
#include "base/platform/Platform.h"

#include <algorithm>
#include <exception>

namespace Ovra {
namespace watch {

namespace {
const long long kDiskCount = platform::kPhysicalDriveCount;
// The longest finite wait; a longer interval is served as this.
const long long kLongestWaitMs = platform::kInfinite - 1;
}  // namespace

Watcher::~Watcher() {
    // The worker runs this object's virtual body: it must end before the members go.
    StopThread(kInfinite, 1);
}

void Watcher::SetDisks(const std::vector<long long>& disks) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.disks = disks;
}

void Watcher::SetPollInterval(long long milliseconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.interval = std::max(milliseconds, 1LL);
}

int Watcher::SetSelfTestSchedule(const std::wstring& schedule) {
    std::shared_ptr<const SelfTestSchedule> parsed;
    const int code = SelfTestSchedule::Parse(schedule, parsed);
    if (code != result::kOk) return code;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.schedule.swap(parsed);
    return result::kOk;
}

void Watcher::SetTemperatureLimits(int warning, int critical) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.limits.warning = warning;
    m_settings.limits.critical = critical;
}

int Watcher::Start() {
    if (StartThread(0)) return result::kOk;
    return IsThreadRunning() ? result::kAlreadyOpen : result::kSystemFailed;
}

std::map<long long, DiskHealth> Watcher::GetReadings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_readings;
}

void Watcher::SendTestEvent() {
    DiskHealthEvent event;
    event.type = DiskHealthEvent::TestEvent;
    event.time = platform::Sys().GetCurTime();
    Tell(event);
}

void Watcher::Tell(const DiskHealthEvent& event) {
    m_observer.Call(
        [&](DiskHealthWatchObserver* observer) { observer->OnDiskHealthEvent(m_owner, event); });
}

unsigned int Watcher::OnThreadEntry() {
    const platform::Handle stop = GetStopThreadEvent();
    for (long long poll = 1;; ++poll) {
        try {
            if (!Poll(poll)) return 0;
        } catch (const std::exception&) {  // out of memory: the next poll tries again
        }
        long long interval;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            interval = std::min(m_settings.interval, kLongestWaitMs);
        }
        // Anything but the time-out is the stop request (or a wait that cannot work).
        if (platform::Sys().WaitForMultipleObjects(
                1, &stop, 0, static_cast<std::uint32_t>(interval)) != platform::kWaitTimeout)
            return 0;
    }
}

bool Watcher::Poll(long long poll) {
    Settings settings;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        settings = m_settings;
    }
    std::vector<long long>& disks = settings.disks;
    if (disks.empty()) {
        for (long long disk = 0; disk < kDiskCount; ++disk) disks.push_back(disk);
    }
    Forget(disks);

    std::tm local{};
    const bool haveLocal = LocalTime(platform::Sys().GetCurTime(), local);
    const int due = poll > 1 && haveLocal && settings.schedule ? settings.schedule->Due(local) : -1;

    for (long long disk : disks) {
        if (IsStopThread(0)) return false;
        DiskHealth health;
        const int code = m_probe.Read(disk, health);
        DiskHealthEvent stamp;
        stamp.disk = disk;
        stamp.time = platform::Sys().GetCurTime();
        Events events;
        DiskMemory& memory = m_memory[disk];
        CompareReading(stamp, code, health, settings.limits, memory, events);
        if (code == result::kOk && due >= 0)
            StartDue(disk, health, due, local, stamp, memory, events);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (code == result::kNotFound) {
                m_readings.erase(disk);
            } else {
                m_readings[disk] = std::move(health);
            }
        }
        for (const DiskHealthEvent& event : events) Tell(event);
    }
    m_observer.Call(
        [&](DiskHealthWatchObserver* observer) { observer->OnDiskHealthPoll(m_owner, poll); });
    return true;
}

// Disks no longer chosen leave silently; chosen again, they start afresh.
void Watcher::Forget(const std::vector<long long>& disks) {
    const auto chosen = [&](long long disk) {
        return std::find(disks.begin(), disks.end(), disk) != disks.end();
    };
    for (auto it = m_memory.begin(); it != m_memory.end();)
        it = chosen(it->first) ? std::next(it) : m_memory.erase(it);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_readings.begin(); it != m_readings.end();)
        it = chosen(it->first) ? std::next(it) : m_readings.erase(it);
}

void Watcher::StartDue(long long disk, const DiskHealth& health, int kind, const std::tm& local,
                       const DiskHealthEvent& stamp, DiskMemory& memory, Events& events) {
    if (!health.canSelfTest || health.selfTestInProgress >= 0) return;
    const long long hour = HourOf(local);
    const auto last = m_testedHour.find(disk);
    if (last != m_testedHour.end() && last->second == hour) return;
    // A refused start counts too: it is told once per matching hour, not at every poll.
    m_testedHour[disk] = hour;
    std::wstring reason;
    const int code = m_probe.StartSelfTest(disk, kind, reason);
    TellStart(stamp, kind, code, reason, memory, events);
}

}  // namespace watch
}  // namespace Ovra
