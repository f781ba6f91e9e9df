// TEMPORARY, removed when the library's disk watch and self-tests are merged: just enough of
// DiskHealthWatch and the self-test functions for ovractl's commands and tests to run.
// Exported as the library exports them: built as a library of its own, it gives the callers the
// names they import.
#define OVRA_PLATFORM_MISC_BUILD
#include <Ovra/Bases/Clock.h>
#include <Ovra/DiskHealth.h>
#include <Ovra/DiskHealthWatch.h>

#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>

namespace Ovra {

int StartDiskSelfTest(long long disk, int, std::wstring& reason) {
    DiskHealth health;
    if (ReadDiskHealth(disk, health) == 121) {
        reason = L"no such disk";
        return 121;
    }
    reason = L"self-tests are not implemented yet";
    return 127;
}

int AbortDiskSelfTest(long long disk, std::wstring& reason) {
    return StartDiskSelfTest(disk, 0, reason);
}

const wchar_t* DiskSelfTestKindName(int) {
    return L"unknown";
}

const wchar_t* DiskSelfTestResultName(int) {
    return L"unknown";
}

const wchar_t* DiskHealthEventName(int) {
    return L"unknown";
}

struct DiskHealthWatchData {
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::thread worker;
    bool stop = false;
    std::vector<long long> disks;
    long long interval = 1800000;
    DiskHealthWatchObserver* observer = nullptr;
    std::map<long long, DiskHealth> readings;
};

DiskHealthWatch::DiskHealthWatch() : m_data(new DiskHealthWatchData) {}

DiskHealthWatch::~DiskHealthWatch() {
    Stop();
    delete m_data;
}

void DiskHealthWatch::SetDisks(const std::vector<long long>& disks) {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->disks = disks;
}

void DiskHealthWatch::SetPollInterval(long long milliseconds) {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->interval = milliseconds < 1 ? 1 : milliseconds;
}

int DiskHealthWatch::SetSelfTestSchedule(const std::wstring& schedule) {
    try {
        std::wregex(schedule, std::regex_constants::extended);
    } catch (const std::regex_error&) {
        return 141;
    }
    return 0;
}

void DiskHealthWatch::SetTemperatureLimits(int, int) {}

void DiskHealthWatch::SetObserver(DiskHealthWatchObserver* observer) {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->observer = observer;
}

int DiskHealthWatch::Start() {
    if (IsRunning()) return 120;
    if (m_data->worker.joinable()) m_data->worker.join();
    m_data->stop = false;
    m_data->worker = std::thread([this] {
        for (long long poll = 1;; ++poll) {
            std::vector<long long> disks;
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                disks = m_data->disks;
            }
            std::map<long long, DiskHealth> readings;
            for (long long n = 0; disks.empty() && n < 32; ++n) {
                DiskHealth health;
                if (ReadDiskHealth(n, health) != 121) readings[n] = health;
            }
            for (long long disk : disks) ReadDiskHealth(disk, readings[disk]);
            DiskHealthWatchObserver* observer = nullptr;
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                m_data->readings = readings;
                observer = m_data->observer;
            }
            if (observer) observer->OnDiskHealthPoll(this, poll);
            std::unique_lock<std::mutex> lock(m_data->mutex);
            m_data->wake.wait_for(lock, std::chrono::milliseconds(m_data->interval),
                                  [this] { return m_data->stop; });
            if (m_data->stop) return;
        }
    });
    return 0;
}

void DiskHealthWatch::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        m_data->stop = true;
    }
    m_data->wake.notify_all();
    if (m_data->worker.joinable() && m_data->worker.get_id() != std::this_thread::get_id())
        m_data->worker.join();
}

bool DiskHealthWatch::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->worker.joinable() && !m_data->stop;
}

std::map<long long, DiskHealth> DiskHealthWatch::GetReadings() const {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->readings;
}

void DiskHealthWatch::SendTestEvent() {
    DiskHealthWatchObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        observer = m_data->observer;
    }
    DiskHealthEvent event;
    event.time = GetCurTime();
    if (observer) observer->OnDiskHealthEvent(this, event);
}

}  // namespace Ovra
