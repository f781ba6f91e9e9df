#include <Ovra/Bases/Thread.h>

#include "platform/Platform.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <thread>
#endif

namespace Ovra {

using platform::Sys;

struct Thread::State {
    platform::Handle stopEvent = nullptr;
    std::mutex control;  // serialises start, stop and join of the worker
    std::atomic<bool> running{false};
    std::mutex doneMutex;
    std::condition_variable done;
#if defined(_WIN32)
    HANDLE worker = nullptr;
    DWORD workerId = 0;
    bool HasWorker() const {
        return worker != nullptr;
    }
    bool IsWorkerThread() const {
        return workerId == ::GetCurrentThreadId();
    }
    void Join() {
        ::WaitForSingleObject(worker, INFINITE);
        ::CloseHandle(worker);
        worker = nullptr;
        workerId = 0;
    }
    void Detach() {
        ::CloseHandle(worker);
        worker = nullptr;
        workerId = 0;
    }
#else
    std::thread worker;
    bool HasWorker() const {
        return worker.joinable();
    }
    bool IsWorkerThread() const {
        return worker.get_id() == std::this_thread::get_id();
    }
    void Join() {
        worker.join();
    }
    void Detach() {
        worker.detach();
    }
#endif

    State() {
        stopEvent = Sys().CreateEventW(1, 0);
    }
    ~State() {
        if (stopEvent) Sys().CloseHandle(stopEvent);
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
        self = m_state->HasWorker() && m_state->IsWorkerThread();
        if (self) m_state->Detach();  // destroyed by its own worker: nothing left to wait for
    }
    if (!self) {
        m_state->WaitDone(platform::kInfinite);
        std::lock_guard<std::mutex> lock(m_state->control);
        if (m_state->HasWorker()) m_state->Join();
    }
    delete m_state;
}

int Thread::OnPreThreadStart() {
    return 1;
}

unsigned int Thread::OnThreadEntry() {
    return 0;
}

void Thread::RunBody(Thread* self) {
    State* state = self->m_state;
    self->OnThreadEntry();
    // From here on the owner may go away; only the state, which outlives every join, is touched.
    std::lock_guard<std::mutex> lock(state->doneMutex);
    state->running.store(false);
    state->done.notify_all();
}

#if defined(_WIN32)
struct ThreadAccess {
    static unsigned __stdcall Trampoline(void* argument) {
        Thread::RunBody(static_cast<Thread*>(argument));
        return 0;
    }
};
#endif

int Thread::StartThread(int) {
    std::lock_guard<std::mutex> lock(m_state->control);
    if (m_state->running.load()) return 0;
    if (m_state->HasWorker()) m_state->Join();  // a body that has already returned
    if (!m_state->stopEvent || !OnPreThreadStart()) return 0;
    Sys().ResetEvent(m_state->stopEvent);
    m_state->running.store(true);
#if defined(_WIN32)
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadAccess::Trampoline, this, 0, &id);
    if (handle == 0) {
        m_state->running.store(false);
        return 0;
    }
    m_state->worker = reinterpret_cast<HANDLE>(handle);
    m_state->workerId = id;
#else
    try {
        m_state->worker = std::thread(&Thread::RunBody, this);
    } catch (...) {
        m_state->running.store(false);
        return 0;
    }
#endif
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
        if (!m_state->HasWorker()) return 1;
        if (m_state->IsWorkerThread()) return 0;  // a worker cannot wait for itself
    }
    // The wait holds no lock, so the body may still call StopThread or StopThreadEvent itself.
    if (!m_state->WaitDone(timeout)) return 0;
    std::lock_guard<std::mutex> lock(m_state->control);
    if (m_state->HasWorker() && !m_state->running.load()) m_state->Join();
    return 1;
}

}  // namespace Ovra
