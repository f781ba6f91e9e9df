#pragma once

// Records the calls an observer receives, with their arguments, and lets a test wait for the Nth.
// An observer of an interface derives from it and records from its operation:
//
//   struct Observer : StorageFormatterObserver, testing_support::RecordingObserver<int, int> {
//       void OnFormatEvent(int event, int value) override { Record(event, value); }
//   };

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <tuple>
#include <vector>

namespace testing_support {

template <typename... Args>
class RecordingObserver {
public:
    using Entry = std::tuple<Args...>;

    // Stores the call and wakes the waiters, then runs the hook (outside the lock) if one is set.
    void Record(Args... args) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_calls.emplace_back(args...);
        const auto hook = m_hook;
        m_changed.notify_all();
        lock.unlock();
        if (hook) hook(Entry(args...));
    }
    // Blocks until `count` calls arrived; false after ten seconds (a hang, not a timing).
    bool AwaitCalls(std::size_t count) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_calls.size() >= count; });
    }
    std::vector<Entry> Calls() const { return Hold(), m_calls; }
    std::size_t Count() const { return Calls().size(); }
    Entry At(std::size_t i) const { return Calls().at(i); }
    void SetHook(std::function<void(const Entry&)> hook) { Hold(), m_hook = std::move(hook); }

private:
    // A guard for one full expression: `Hold(), m_field = value;`.
    std::lock_guard<std::mutex> Hold() const { return std::lock_guard<std::mutex>(m_mutex); }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Entry> m_calls;
    std::function<void(const Entry&)> m_hook;
};

}  // namespace testing_support
