#pragma once

// What the parts of LogService share: its result codes, the guarded call that keeps every
// exception inside the library, the lock that callers take and the stepping of result rows.

#include <Ovra/LogService.h>

#include <Ovra/ResultCodes.h>
#include "src/log/CppSQLite3.h"

#include <Ovra/Bases/StringConv.h>

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

namespace Ovra {
namespace logservice {

using result::kAlreadyOpen;
using result::kBadArgument;
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

// Runs `sql` (BEGIN; ... COMMIT;) and rolls back whatever a failure left open: all or nothing.
inline int ExecuteAllOrNothing(CppSQLite3DB& db, const std::string& sql, std::atomic<int>* broken) {
    const int result = Guarded(broken, [&] {
        db.Execute(sql.c_str());
        return kOk;
    });
    // SQLite rolls some failures back by itself; whatever is still open goes here.
    if (result != kOk && db.InTransaction()) {
        Guarded(nullptr, [&] {
            db.Execute("ROLLBACK");
            return kOk;
        });
    }
    return result;
}

// Marks the service as inside a visitor call for its lifetime.
class VisitGuard {
public:
    explicit VisitGuard(bool& visiting) : m_visiting(visiting) { m_visiting = true; }
    ~VisitGuard() { m_visiting = false; }
    VisitGuard(const VisitGuard&) = delete;
    VisitGuard& operator=(const VisitGuard&) = delete;

private:
    bool& m_visiting;
};

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

template <typename OnRow>
void LogService::StepRows(const std::wstring& statement, OnRow onRow, const std::string* bound) {
    const std::string sql = tcs_to_utf8(statement);
    // Held until the last row is read: the column types must not change under the reading.
    ForegroundLock lock(*this);
    CppSQLite3Rows rows = Db().Rows(sql.c_str(), bound ? bound->c_str() : nullptr);
    while (rows.Next()) {
        if (onRow(rows)) break;
    }
}

}  // namespace Ovra
