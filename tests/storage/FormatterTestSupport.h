#pragma once

// What the formatter suites share: an observer that records events, and a look at the named
// mutex from another thread (the holder may always take a recursive mutex again, so only another
// thread can tell whether a hold was left behind).

#include <Ovra/Bases/Mutex.h>
#include <Ovra/StorageFormatter.h>

#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace Ovra {
namespace storage_test {

const wchar_t kFormatMutexName[] = L"69F5F27F-585B-48b7-91E3-C3816CAF7357";

using Event = std::pair<int, int>;

class RecordingObserver : public StorageFormatterObserver {
public:
    void OnFormatEvent(int event, int value) override {
        std::function<void(int)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.emplace_back(event, value);
            hook = m_hook;
        }
        if (hook) hook(event);
    }
    std::vector<Event> Events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void SetHook(std::function<void(int)> hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = std::move(hook);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    std::function<void(int)> m_hook;
};

inline bool FormatLockIsFree() {
    bool free = false;
    std::thread([&] {
        Mutex mutex(kFormatMutexName);
        free = mutex.Lock(0) != 0;
        if (free) mutex.Unlock();
    }).join();
    return free;
}

}  // namespace storage_test
}  // namespace Ovra
