#pragma once

#include <Ovra/TimeSyncService.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace Ovra {
namespace testing_timesync {

using Notification = std::tuple<int, long long, std::wstring>;  // code, time, server
using Notifications = std::vector<Notification>;

// Records every notification; `onCall` runs inside the call with the live time variable.
class RecordingObserver : public TimeSyncServiceObserver {
public:
    std::function<void(TimeSyncService*, int code, long long& time)> onCall;

    void OnTimeSync(TimeSyncService* service, int code, long long& time,
                    const std::wstring& server) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.emplace_back(code, time, server);
            m_called.notify_all();
        }
        if (onCall) onCall(service, code, time);
    }
    Notifications Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    // Blocks until `count` calls have been recorded; false after 10 s.
    bool AwaitCalls(std::size_t count) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_called.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return m_calls.size() >= count; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_called;
    Notifications m_calls;
};

}  // namespace testing_timesync
}  // namespace Ovra
