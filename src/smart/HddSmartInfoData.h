#pragma once

#include <Ovra/Bases/Cs.h>
#include <Ovra/HddSmartInfo.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <set>

namespace Ovra {

using SmartReadings = std::map<unsigned char, HddSmartAttr>;
using SmartSnapshot = std::map<size_t, SmartReadings>;

// The state that every copy of one monitor shares. Reference-counted: each monitor that refers to
// it and each worker that serves it holds one reference.
struct HddSmartInfoData {
    HddSmartInfoData() = default;
    HddSmartInfoData(const HddSmartInfoData&) = delete;
    HddSmartInfoData& operator=(const HddSmartInfoData&) = delete;

    // Read by the worker without the lock, hence atomic.
    std::atomic<HddSmartInfoObserver*> m_observer{nullptr};
    int m_allDisks = 0;
    std::set<size_t> m_pendingDisks;
    SmartSnapshot m_snapshot;
    std::atomic<short> m_checkTime{1000};
    Cs m_cs;  // guards the disk lists, the snapshot, writes of m_checkTime and EnableCheck

    std::atomic<long> m_references{1};
};

// Holds one reference to a state record for as long as it lives.
class SmartDataRef {
public:
    explicit SmartDataRef(HddSmartInfoData* data);
    ~SmartDataRef();
    SmartDataRef(const SmartDataRef&) = delete;
    SmartDataRef& operator=(const SmartDataRef&) = delete;

    HddSmartInfoData* operator->() const { return m_data; }

private:
    HddSmartInfoData* m_data;
};

void AcquireSmartData(HddSmartInfoData* data);
void ReleaseSmartData(HddSmartInfoData* data);

}  // namespace Ovra
