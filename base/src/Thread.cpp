#include <Ovra/Bases/Thread.h>

#include "base/platform/Native.h"
#include "base/platform/Platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Ovra {

using platform::Sys;

// Shared by the Thread object and its running worker: a worker whose owner was destroyed from
// inside the body (a host deleting its monitor in an observer call) still finishes on a live
// record, and the last of the two frees it.
struct Thread::State {
    platform::Handle stopEvent = Sys().CreateEventW(1, 0);
    std::mutex control;  // serialises start, stop and join of the worker
    native::Thread* worker = nullptr;
    std::atomic<bool> running{false};
    std::atomic<int> holders{1};
    Thread* owner = nullptr;  // the object whose body the worker runs
    std::mutex doneMutex;
    std::condition_variable done;

    ~State() {
        if (stopEvent) Sys().CloseHandle(stopEvent);
    }
    void Hold() { holders.fetch_add(1, std::memory_order_relaxed); }
    void Drop() {
        if (holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    bool IsWorkerThread() const { return worker && native::IsCurrentThread(worker); }
    void Join() {
        native::JoinThread(worker);
        worker = nullptr;
    }

    // Waits until the body has returned; false when `timeout` ran out first.
    bool WaitDone(unsigned int timeout) {
        std::unique_lock<std::mutex> lock(doneMutex);
        auto finished = [this] { return !running.load(); };
        if (timeout == platform::kInfinite) {
            done.wait(lock, finished);
            return true;
        }
        return done.wait_for(lock, std::chrono::milliseconds(timeout), finished);
    }
};

Thread::Thread() : m_state(new State) {}

Thread::Thread(const Thread&) : m_state(new State) {}

Thread& Thread::operator=(const Thread&) {
    return *this;
}

Thread::~Thread() {
    Sys().SetEvent(m_state->stopEvent);
    bool self;
    {
        std::lock_guard<std::mutex> lock(m_state->control);
        self = m_state->IsWorkerThread();
        if (self) {  // destroyed by its own worker: nothing left to wait for
            native::DetachThread(m_state->worker);
            m_state->worker = nullptr;
        }
    }
    if (!self) {
        m_state->WaitDone(platform::kInfinite);
        std::lock_guard<std::mutex> lock(m_state->control);
        if (m_state->worker) m_state->Join();
    }
    m_state->Drop();
}

int Thread::OnPreThreadStart() {
    return 1;
}

unsigned int Thread::OnThreadEntry() {
    return 0;
}

void Thread::RunBody(void* argument) {
    State* state = static_cast<State*>(argument);
    state->owner->OnThreadEntry();
    // From here on the owner may be gone; only the state, held by this worker, is touched.
    {
        std::lock_guard<std::mutex> lock(state->doneMutex);
        state->running.store(false);
        state->done.notify_all();
    }
    state->Drop();
}

int Thread::StartThread(int) {
    std::lock_guard<std::mutex> lock(m_state->control);
    if (m_state->running.load()) return 0;
    if (m_state->worker) m_state->Join();  // a body that has already returned
    if (!m_state->stopEvent || !OnPreThreadStart()) return 0;
    Sys().ResetEvent(m_state->stopEvent);
    m_state->running.store(true);
    m_state->owner = this;
    m_state->Hold();
    m_state->worker = native::StartThread(&Thread::RunBody, m_state);
    if (!m_state->worker) {
        m_state->running.store(false);
        m_state->Drop();
        return 0;
    }
    return 1;
}

int Thread::IsThreadRunning() const {
    return m_state->running.load() ? 1 : 0;
}

int Thread::IsStopThread(unsigned int timeout) const {
    platform::Handle stop = m_state->stopEvent;
    return Sys().WaitForMultipleObjects(1, &stop, 0, timeout) == platform::kWaitObject0 ? 1 : 0;
}

void Thread::StopThreadEvent() {
    Sys().SetEvent(m_state->stopEvent);
}

void* Thread::GetStopThreadEvent() const {
    return m_state->stopEvent;
}

int Thread::StopThread(unsigned int timeout, int wait) {
    Sys().SetEvent(m_state->stopEvent);
    if (!wait) return IsThreadRunning() ? 0 : 1;
    {
        std::lock_guard<std::mutex> lock(m_state->control);
        if (!m_state->worker) return 1;
        if (m_state->IsWorkerThread()) return 0;  // a worker cannot wait for itself
    }
    // The wait holds no lock, so the body may still call StopThread or StopThreadEvent itself.
    if (!m_state->WaitDone(timeout)) return 0;
    std::lock_guard<std::mutex> lock(m_state->control);
    if (m_state->worker && !m_state->running.load()) m_state->Join();
    return 1;
}

}  // namespace Ovra
