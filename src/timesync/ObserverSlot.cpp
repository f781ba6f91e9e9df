#include "src/timesync/ObserverSlot.h"

#include <algorithm>

namespace Ovra {

TimeSyncServiceObserver* TimeSyncService::ObserverSlot::Get() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_observer;
}

void TimeSyncService::ObserverSlot::Set(TimeSyncServiceObserver* observer) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_observer = observer;
    const std::uint64_t generation = ++m_generation;
    const std::thread::id self = std::this_thread::get_id();
    // Calls made on this thread are still on its stack: waiting for them would never end.
    m_returned.wait(lock, [&] {
        return std::none_of(m_running.begin(), m_running.end(), [&](const Running& call) {
            return call.thread != self && call.generation < generation;
        });
    });
}

void TimeSyncService::ObserverSlot::Notify(TimeSyncService* service, int code, long long& time,
                                           const std::wstring& server) {
    TimeSyncServiceObserver* observer;
    std::list<Running>::iterator call;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        observer = m_observer;
        if (!observer) return;
        call = m_running.insert(m_running.end(), {std::this_thread::get_id(), m_generation});
    }
    struct Returned {
        ObserverSlot& slot;
        std::list<Running>::iterator call;
        ~Returned() {
            std::lock_guard<std::mutex> lock(slot.m_mutex);
            slot.m_running.erase(call);
            slot.m_returned.notify_all();
        }
    } returned{*this, call};
    observer->OnTimeSync(service, code, time, server);
}

}  // namespace Ovra
