#include <Ovra/DiskHealthWatch.h>

#include <Ovra/ResultCodes.h>
#include "src/watch/WatchWorker.h"

#include <climits>
#include <new>

namespace Ovra {

namespace {

class SystemDisks : public watch::DiskProbe {
public:
    int Read(long long disk, DiskHealth& health) override {
        // The watch judges temperatures against its own limits: the verdict leaves them out.
        return ReadDiskHealth(disk, health, INT_MAX);
    }
    int StartSelfTest(long long disk, int kind, std::wstring& reason) override {
        return StartDiskSelfTest(disk, kind, reason);
    }
};

const wchar_t* const kEventNames[] = {L"verdict-changed",
                                      L"counter-increased",
                                      L"errors-logged",
                                      L"selftest-started",
                                      L"selftest-passed",
                                      L"selftest-failed",
                                      L"temperature-high",
                                      L"temperature-normal",
                                      L"disk-added",
                                      L"disk-removed",
                                      L"test"};

}  // namespace

struct DiskHealthWatchData {
    explicit DiskHealthWatchData(DiskHealthWatch* owner) : watcher(owner, disks) {}
    SystemDisks disks;
    watch::Watcher watcher;
};

const wchar_t* DiskHealthEventName(int type) {
    const int count = static_cast<int>(sizeof kEventNames / sizeof kEventNames[0]);
    return type >= 0 && type < count ? kEventNames[type] : L"unknown";
}

DiskHealthWatch::DiskHealthWatch() : m_data(new DiskHealthWatchData(this)) {}

DiskHealthWatch::~DiskHealthWatch() {
    delete m_data;
}

void DiskHealthWatch::SetDisks(const std::vector<long long>& disks) {
    try {
        m_data->watcher.SetDisks(disks);
    } catch (const std::bad_alloc&) {  // the old list stays
    }
}

void DiskHealthWatch::SetPollInterval(long long milliseconds) {
    m_data->watcher.SetPollInterval(milliseconds);
}

int DiskHealthWatch::SetSelfTestSchedule(const std::wstring& schedule) {
    return m_data->watcher.SetSelfTestSchedule(schedule);
}

void DiskHealthWatch::SetTemperatureLimits(int warning, int critical) {
    m_data->watcher.SetTemperatureLimits(warning, critical);
}

void DiskHealthWatch::SetObserver(DiskHealthWatchObserver* observer) {
    m_data->watcher.SetObserver(observer);
}

int DiskHealthWatch::Start() {
    return m_data->watcher.Start();
}

void DiskHealthWatch::Stop() {
    m_data->watcher.Stop();
}

bool DiskHealthWatch::IsRunning() const {
    return m_data->watcher.IsThreadRunning() != 0;
}

std::map<long long, DiskHealth> DiskHealthWatch::GetReadings() const {
    try {
        return m_data->watcher.GetReadings();
    } catch (const std::bad_alloc&) {
        return std::map<long long, DiskHealth>();
    }
}

void DiskHealthWatch::SendTestEvent() {
    m_data->watcher.SendTestEvent();
}

}  // namespace Ovra
