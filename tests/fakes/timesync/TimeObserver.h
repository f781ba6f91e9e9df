#pragma once

#include <Ovra/TimeSyncService.h>

#include "tests/support/RecordingObserver.h"

#include <functional>
#include <string>

namespace Ovra {
namespace fakes {

// Records every call; `onCall` then runs inside it with the live time variable.
struct TimeObserver : TimeSyncServiceObserver,
                      ::testing_support::RecordingObserver<int, long long, std::wstring> {
    std::function<void(TimeSyncService*, int code, long long& time)> onCall;
    void OnTimeSync(TimeSyncService* service, int code, long long& time,
                    const std::wstring& server) override {
        Record(code, time, server);
        if (onCall) onCall(service, code, time);
    }
};

}  // namespace fakes
}  // namespace Ovra
