#pragma once

#include <Ovra/Bases/Export.h>
#include <Ovra/Bases/Wait.h>

namespace Ovra {

// A worker thread owned by an object: the derived class overrides OnThreadEntry with the body.
// The stop request is a manual-reset event: once requested it stays signalled until the next
// StartThread, so every later wait of the body sees it.
class OVRA_BASES_API Thread {
public:
    Thread();
    // A copy is a thread object of its own: it shares nothing with the source and does not run.
    Thread(const Thread& other);
    Thread& operator=(const Thread& other);
    // Requests the stop and waits for the worker (a safety net only: the body is a virtual of the
    // derived class, which must stop its worker in its own destructor).
    virtual ~Thread();

    // Requests the stop; when `wait` is nonzero, waits up to `timeout` milliseconds (kInfinite:
    // no limit) for the worker to end. Nonzero when no worker is running afterwards. Called from
    // the worker itself it only requests the stop.
    virtual int StopThread(unsigned int timeout, int wait);

protected:
    // Called by StartThread on the starting thread; 0 refuses the start.
    virtual int OnPreThreadStart();
    // The body of the worker thread; its result is the thread's exit code.
    virtual unsigned int OnThreadEntry();

public:
    // Starts the worker (the argument is reserved, pass 0). Nonzero when it started; 0 when a
    // worker is already running or the system refused.
    int StartThread(int reserved);
    // Nonzero while the worker thread runs its body.
    int IsThreadRunning() const;
    // Waits up to `timeout` ms for a stop request; nonzero as soon as one is pending. 0 returns at
    // once.
    int IsStopThread(unsigned int timeout) const;
    // Requests the stop without waiting.
    void StopThreadEvent();
    // The stop request as a waitable handle (for waits on several objects).
    void* GetStopThreadEvent() const;

private:
    struct State;
    static void RunBody(void* state);

    State* m_state;
};

}  // namespace Ovra
