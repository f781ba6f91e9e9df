#pragma once

#include <Ovra/HddSmartInfo.h>

#include "tests/fakes/FakePlatform.h"
#include "tests/fakes/smart/FakeSmartDisk.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Ovra {
namespace testing_smart {

using Readings = std::map<unsigned char, HddSmartAttr>;
using Snapshot = std::map<size_t, Readings>;

// A disk whose attribute values carry its number, so readings of two disks never look alike.
inline std::shared_ptr<fakes::FakeSmartDisk> AddDisk(fakes::FakePlatform& fake, long long n) {
    const auto tag = static_cast<std::uint8_t>(n + 1);
    auto disk = std::make_shared<fakes::FakeSmartDisk>(
        std::vector<fakes::SmartAttributeEntry>{{1, 0x000B, tag, 90}, {194, 0x0022, 40, tag}},
        std::vector<fakes::SmartThresholdEntry>{{1, 51}, {194, 0}});
    fake.AddDevice(fakes::PhysicalDrivePath(n), disk);
    return disk;
}

// Records every notification and the snapshot it could read from inside the callback.
class RecordingObserver : public HddSmartInfoObserver {
public:
    void OnSmartAttrUpdate(HddSmartInfo* info) override {
        Snapshot seen;
        info->GetSmartAttr(seen);  // must not deadlock: no lock is held during the call
        std::lock_guard<std::mutex> lock(m_mutex);
        m_callers.push_back(info);
        m_snapshots.push_back(seen);
        m_changed.notify_all();
    }

    // Blocks until `count` notifications arrived; false after ten seconds.
    bool AwaitCalls(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_snapshots.size() >= count; });
    }

    size_t Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_snapshots.size();
    }

    Snapshot SnapshotAt(size_t i) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_snapshots.at(i);
    }

    HddSmartInfo* CallerAt(size_t i) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_callers.at(i);
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<HddSmartInfo*> m_callers;
    std::vector<Snapshot> m_snapshots;
};

}  // namespace testing_smart
}  // namespace Ovra
