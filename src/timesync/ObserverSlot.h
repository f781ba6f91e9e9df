#pragma once

#include <Ovra/TimeSyncService.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace Ovra {

// One observer of a worker. Every call reads it afresh and runs with no lock held, so an observer
// may call back into its owner. Set waits for the calls that were already running on other
// threads when it replaced the observer (a call it is made from is not waited for): once Set has
// returned, the observer it replaced is never called again.
template <typename Observer>
class BasicObserverSlot {
public:
    explicit BasicObserverSlot(Observer* observer = nullptr) : m_observer(observer) {}
    BasicObserverSlot(const BasicObserverSlot&) = delete;
    BasicObserverSlot& operator=(const BasicObserverSlot&) = delete;

    Observer* Get() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_observer;
    }

    void Set(Observer* observer) {
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

    // Runs `call(observer)` with the current observer, if any.
    template <typename Invoke>
    void Call(Invoke&& invoke) {
        Observer* observer;
        typename std::list<Running>::iterator entry;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            observer = m_observer;
            if (!observer) return;
            entry = m_running.insert(m_running.end(), {std::this_thread::get_id(), m_generation});
        }
        struct Returned {
            BasicObserverSlot& slot;
            typename std::list<Running>::iterator entry;
            ~Returned() {
                std::lock_guard<std::mutex> lock(slot.m_mutex);
                slot.m_running.erase(entry);
                slot.m_returned.notify_all();
            }
        } returned{*this, entry};
        invoke(observer);
    }

private:
    struct Running {
        std::thread::id thread;
        std::uint64_t generation;  // of the observer it reached
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_returned;
    Observer* m_observer;
    std::uint64_t m_generation = 0;  // counts replacements
    std::list<Running> m_running;
};

// The time-sync service's observer.
class TimeSyncService::ObserverSlot : public BasicObserverSlot<TimeSyncServiceObserver> {
public:
    using BasicObserverSlot::BasicObserverSlot;
    void Notify(TimeSyncService* service, int code, long long& time, const std::wstring& server);
};

}  // namespace Ovra
