#pragma once

// What the parts of LogService share: its result codes, the guarded call that keeps every
// exception inside the library, and the lock that callers take.

#include <Ovra/LogService.h>

#include <Ovra/ResultCodes.h>
#include "src/log/CppSQLite3.h"

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>

namespace Ovra {
namespace logservice {

using result::kAlreadyOpen;
using result::kEmptyInput;
using result::kFailed;
using result::kOk;
using result::kOutOfMemory;
const int kTableExists = result::kExists;
const int kNoTable = result::kMissing;

// Runs `body`, which returns a result code, and turns whatever it throws into one: an SQLite
// failure by the error mapping (7 gives 102, anything else 1), marking `*broken` when given and
// the file is corrupt (11); an allocation that failed 102; anything else 1.
template <typename Body>
int Guarded(std::atomic<int>* broken, Body&& body) noexcept {
    try {
        return body();
    } catch (const CppSQLite3Exception& error) {
        if (broken && error.ErrorCode() == SQLITE_CORRUPT) *broken = 1;
        return error.ErrorCode() == SQLITE_NOMEM ? kOutOfMemory : kFailed;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (const std::length_error&) {
        return kOutOfMemory;  // a result too long for a container
    } catch (...) {
        return kFailed;
    }
}

}  // namespace logservice

// Callers count themselves while they wait for the lock and signal when they release it, so that
// a chunked retention pass, between two chunks, can let the waiting ones go first.
class LogService::LockTurns {
public:
    void Waiting() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_waiting;
    }
    void Entered() {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_waiting;
    }
    void Released() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_released;
        }
        m_signal.notify_all();
    }
    // Returns at once when nobody waits, else once a caller has had the lock and released it.
    void LetWaitersIn() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_waiting == 0) return;
        const unsigned long long seen = m_released;
        m_signal.wait(lock, [&] { return m_released != seen; });
    }
    unsigned int WaitingNow() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_waiting;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_signal;
    unsigned int m_waiting = 0;
    unsigned long long m_released = 0;
};

// Takes m_cs for a caller, in turn with a chunked retention pass.
class LogService::ForegroundLock {
public:
    explicit ForegroundLock(const LogService& service) : m_service(service) {
        m_service.m_lockTurns->Waiting();
        m_service.m_cs.Lock();
        m_service.m_lockTurns->Entered();
    }
    ~ForegroundLock() {
        m_service.m_cs.Unlock();
        m_service.m_lockTurns->Released();
    }
    ForegroundLock(const ForegroundLock&) = delete;
    ForegroundLock& operator=(const ForegroundLock&) = delete;

private:
    const LogService& m_service;
};

}  // namespace Ovra
