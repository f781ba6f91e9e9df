#include <Ovra/HddSmartInfo.h>

#include <Ovra/ResultCodes.h>

#include "base/platform/DeviceHandle.h"
#include "src/smart/HddSmartInfoData.h"
#include "src/smart/SmartReader.h"

namespace Ovra {

namespace {
const size_t kDiskCount = platform::kPhysicalDriveCount;
}  // namespace

HddSmartInfo::HddSmartInfo() : Thread(), m_data(new HddSmartInfoData) {}

HddSmartInfo::HddSmartInfo(const HddSmartInfo& other) : Thread(other), m_data(nullptr) {
    Reassign(m_data, other.m_data);
}

HddSmartInfo& HddSmartInfo::operator=(const HddSmartInfo& other) {
    Thread::operator=(other);
    if (m_data == other.m_data) return *this;
    // The worker serves the record it started on; it must not outlive this object's reference to
    // that record unnoticed, so stop it, switch, and carry an enabled check over to the new record.
    const bool checking = IsThreadRunning() && !IsStopThread(0);
    StopThread(kInfinite, 1);
    Reassign(m_data, other.m_data);
    if (checking) EnableCheck(1);
    return *this;
}

HddSmartInfo::~HddSmartInfo() {
    // The worker runs this object's virtual body: it must end before anything goes.
    StopThread(kInfinite, 1);
    Reassign(m_data, nullptr);
}

void HddSmartInfo::SetObserver(HddSmartInfoObserver* observer) {
    m_data->m_observer.store(observer, std::memory_order_release);
}

void HddSmartInfo::SetCheckTime(short checkTime) {
    CsLocker lock(m_data->m_cs);
    m_data->m_checkTime.store(checkTime, std::memory_order_relaxed);
}

int HddSmartInfo::EnableCheck(int enable) {
    CsLocker lock(m_data->m_cs);
    if (enable) {
        if (!IsThreadRunning()) StartThread(0);
    } else {
        StopThreadEvent();
    }
    return result::kOk;
}

void HddSmartInfo::AddCheckDisk(size_t disk) {
    CsLocker lock(m_data->m_cs);
    m_data->m_pendingDisks.insert(disk);
}

void HddSmartInfo::SetCheckAllDisks(int enable) {
    CsLocker lock(m_data->m_cs);
    m_data->m_allDisks = enable;
}

int HddSmartInfo::GetNowSmartAttr(size_t disk, SmartReadings& attrs) const {
    return smart::ReadSmartAttributes(disk, attrs);
}

int HddSmartInfo::GetNowSmartAttr(SmartSnapshot& all) const {
    SmartReadings readings;
    for (size_t disk = 0; disk < kDiskCount; ++disk) {
        if (GetNowSmartAttr(disk, readings) == 0) all[disk] = readings;
    }
    return readings.empty() ? 0 : 1;
}

int HddSmartInfo::GetSmartAttr(size_t disk, SmartReadings& attrs) const {
    CsLocker lock(m_data->m_cs);
    auto it = m_data->m_snapshot.find(disk);
    if (it == m_data->m_snapshot.end()) return 1;
    attrs = it->second;
    return 0;
}

int HddSmartInfo::GetSmartAttr(SmartSnapshot& all) const {
    CsLocker lock(m_data->m_cs);
    all = m_data->m_snapshot;
    return all.empty() ? 0 : 1;
}

unsigned int HddSmartInfo::OnThreadEntry() {
    // Whoever replaces m_data stops this worker first, so the read is safe; the reference keeps
    // the record even when an assignment from inside the observer drops the object's own.
    const SharedRef<HddSmartInfoData> data(m_data);
    std::set<size_t> disks;
    SmartReadings readings;
    SmartSnapshot cycle;
    for (;;) {
        const int wait = data->m_checkTime.load(std::memory_order_relaxed);
        if (IsStopThread(static_cast<unsigned int>(wait))) break;

        int allDisks;
        {
            CsLocker lock(data->m_cs);
            allDisks = data->m_allDisks;
            disks = data->m_pendingDisks;
            data->m_pendingDisks.clear();
        }
        if (allDisks) disks.clear();
        cycle.clear();
        if (allDisks) {
            GetNowSmartAttr(cycle);
        } else {
            for (size_t disk : disks) {
                if (GetNowSmartAttr(disk, readings) == 0) cycle[disk] = readings;
            }
        }
        {
            CsLocker lock(data->m_cs);
            data->m_snapshot = cycle;
        }
        if (HddSmartInfoObserver* observer = data->m_observer.load(std::memory_order_acquire)) {
            observer->OnSmartAttrUpdate(this);
        }
    }
    return 0;
}

}  // namespace Ovra
