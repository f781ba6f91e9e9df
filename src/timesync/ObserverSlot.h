#pragma once

#include <Ovra/TimeSyncService.h>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace Ovra {

// The service's one observer. Every call reads it afresh and runs with no lock held, so an
// observer may call back into the service. Set waits for the calls that were already running on
// other threads when it replaced the observer; a call it is made from is not waited for.
class TimeSyncService::ObserverSlot {
public:
    explicit ObserverSlot(TimeSyncServiceObserver* observer = nullptr) : m_observer(observer) {}
    ObserverSlot(const ObserverSlot&) = delete;
    ObserverSlot& operator=(const ObserverSlot&) = delete;

    TimeSyncServiceObserver* Get() const;
    void Set(TimeSyncServiceObserver* observer);
    // Calls the current observer, if any.
    void Notify(TimeSyncService* service, int code, long long& time, const std::wstring& server);

private:
    struct Running {
        std::thread::id thread;
        std::uint64_t generation;  // of the observer it reached
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    TimeSyncServiceObserver* m_observer;
    std::uint64_t m_generation = 0;  // counts replacements
    std::list<Running> m_running;
};

}  // namespace Ovra
