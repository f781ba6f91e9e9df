#pragma once

#include <Ovra/Bases/Thread.h>
#include <Ovra/DiskHealthWatch.h>

#include "src/timesync/ObserverSlot.h"
#include "src/watch/DiskChanges.h"
#include "src/watch/DiskProbe.h"
#include "src/watch/SelfTestSchedule.h"

#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Ovra {
namespace watch {

// The watch's worker and state; DiskHealthWatch is its exported face. The disks are reached
// through `probe`, and the observer is handed `owner` as the watch it hears from.
class Watcher : public Thread {
public:
    Watcher(DiskHealthWatch* owner, DiskProbe& probe) : m_owner(owner), m_probe(probe) {}
    ~Watcher() override;
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    // As DiskHealthWatch's members of the same names.
    void SetDisks(const std::vector<long long>& disks);
    void SetPollInterval(long long milliseconds);
    int SetSelfTestSchedule(const std::wstring& schedule);
    void SetTemperatureLimits(int warning, int critical);
    void SetObserver(DiskHealthWatchObserver* observer) { m_observer.Set(observer); }
    int Start();
    void Stop() { StopThread(kInfinite, 1); }
    std::map<long long, DiskHealth> GetReadings() const;
    void SendTestEvent();

protected:
    unsigned int OnThreadEntry() override;

private:
    struct Settings {
        std::vector<long long> disks;
        long long interval = 1800000;
        std::shared_ptr<const SelfTestSchedule> schedule;
        TemperatureLimits limits;
    };

    // One pass over the disks; false when a stop request cut it short.
    bool Poll(long long poll);
    void Forget(const std::vector<long long>& disks);
    void StartDue(long long disk, const DiskHealth& health, int kind, const std::tm& local,
                  const DiskHealthEvent& stamp, DiskMemory& memory, Events& events);
    void Tell(const DiskHealthEvent& event);

    DiskHealthWatch* const m_owner;
    DiskProbe& m_probe;
    BasicObserverSlot<DiskHealthWatchObserver> m_observer;

    mutable std::mutex m_mutex;  // guards the settings and the readings
    Settings m_settings;
    std::map<long long, DiskHealth> m_readings;

    // The worker's alone: one run ends before the next starts.
    std::map<long long, DiskMemory> m_memory;
    std::map<long long, long long> m_testedHour;  // per disk: HourOf its last scheduled start
};

}  // namespace watch
}  // namespace Ovra
