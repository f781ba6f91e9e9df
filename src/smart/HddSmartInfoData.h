#pragma once

#include <Ovra/Bases/Cs.h>
#include <Ovra/HddSmartInfo.h>

#include "src/SharedRecord.h"

#include <atomic>
#include <cstddef>
#include <map>
#include <set>

namespace Ovra {

using SmartReadings = std::map<unsigned char, HddSmartAttr>;
using SmartSnapshot = std::map<size_t, SmartReadings>;

// The state that every copy of one monitor shares. Each monitor that refers to it and each worker
// that serves it holds one reference.
struct HddSmartInfoData : SharedRecord<HddSmartInfoData> {
    // Read by the worker without the lock, hence atomic.
    std::atomic<HddSmartInfoObserver*> m_observer{nullptr};
    int m_allDisks = 0;
    std::set<size_t> m_pendingDisks;
    SmartSnapshot m_snapshot;
    std::atomic<short> m_checkTime{1000};
    Cs m_cs;  // guards the disk lists, the snapshot, writes of m_checkTime and EnableCheck
};

}  // namespace Ovra
