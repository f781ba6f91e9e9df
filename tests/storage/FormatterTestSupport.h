#pragma once

// What the formatter suites share: an observer that records events, and a look at the named
// mutex from another thread (the holder may always take a recursive mutex again, so only another
// thread can tell whether a hold was left behind).

#include <Ovra/Bases/Mutex.h>
#include <Ovra/StorageFormatter.h>

#include "tests/support/RecordingObserver.h"

#include <thread>

namespace Ovra {
namespace storage_test {

using Event = std::tuple<int, int>;

struct FormatObserver : StorageFormatterObserver, ::testing_support::RecordingObserver<int, int> {
    void OnFormatEvent(int event, int value) override { Record(event, value); }
};

inline bool FormatLockIsFree() {
    bool free = false;
    std::thread([&] {
        Mutex mutex(L"69F5F27F-585B-48b7-91E3-C3816CAF7357");
        free = mutex.Lock(0) != 0;
        if (free) mutex.Unlock();
    }).join();
    return free;
}

}  // namespace storage_test
}  // namespace Ovra
