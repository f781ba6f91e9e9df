// TEMPORARY: stand-ins for the disk watch and the self-test names until the branches meet; the
// lead deletes this file. Built as a shared library of its own, so that on Windows the imported
// symbols that ovractl expects from the DLL resolve.
#define OVRA_PLATFORM_MISC_BUILD
#include <Ovra/DiskHealth.h>
#include <Ovra/DiskHealthWatch.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace Ovra {

const wchar_t* DiskHealthEventName(int type) {
    static const wchar_t* const kNames[] = {L"verdict-changed",
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
    return type >= 0 && type <= 10 ? kNames[type] : L"unknown";
}

const wchar_t* DiskSelfTestKindName(int kind) {
    static const wchar_t* const kNames[] = {L"offline", L"short", L"extended", L"conveyance"};
    return kind >= 0 && kind <= 3 ? kNames[kind] : L"unknown";
}

const wchar_t* DiskSelfTestResultName(int result) {
    static const wchar_t* const kNames[] = {
        L"passed",        L"aborted",         L"interrupted",
        L"fatal",         L"unknown failure", L"electrical failure",
        L"servo failure", L"read failure",    L"handling damage"};
    if (result == DiskSelfTest::InProgress) return L"in progress";
    return result >= 0 && result <= 8 ? kNames[result] : L"unknown";
}

struct DiskHealthWatchData {
    std::mutex mutex;
    std::condition_variable wake;
    std::thread worker;
    bool stop = false;
    long long interval = 1800000;
    std::vector<long long> disks;
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
int DiskHealthWatch::SetSelfTestSchedule(const std::wstring&) {
    return 0;
}
void DiskHealthWatch::SetTemperatureLimits(int, int) {}
void DiskHealthWatch::SetObserver(DiskHealthWatchObserver* observer) {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->observer = observer;
}

int DiskHealthWatch::Start() {
    if (IsRunning()) return 120;
    m_data->stop = false;
    m_data->worker = std::thread([this] {
        for (long long poll = 1;; ++poll) {
            std::vector<long long> disks;
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                disks = m_data->disks;
            }
            if (disks.empty())
                for (long long d = 0; d < 32; ++d) disks.push_back(d);
            std::map<long long, DiskHealth> readings;
            for (long long d : disks) {
                DiskHealth health;
                if (ReadDiskHealth(d, health) != 121) readings[d] = health;
            }
            DiskHealthWatchObserver* observer;
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                m_data->readings = readings;
                observer = m_data->observer;
            }
            if (observer) observer->OnDiskHealthPoll(this, poll);
            std::unique_lock<std::mutex> lock(m_data->mutex);
            if (m_data->wake.wait_for(lock, std::chrono::milliseconds(m_data->interval),
                                      [this] { return m_data->stop; }))
                return;
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
    return m_data->worker.joinable();
}

std::map<long long, DiskHealth> DiskHealthWatch::GetReadings() const {
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->readings;
}

void DiskHealthWatch::SendTestEvent() {
    DiskHealthWatchObserver* observer;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        observer = m_data->observer;
    }
    if (observer) observer->OnDiskHealthEvent(this, DiskHealthEvent());
}

}  // namespace Ovra
