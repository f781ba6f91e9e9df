// LogService: the retention worker, its chunked and size-bounded passes, and giving free pages
// back to the file system.
#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogRows.h"
#include "src/log/LogServiceInternals.h"
#include "src/log/LogStatements.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/StringConv.h>

#include <string>

namespace Ovra {

using namespace logservice;

namespace {

const unsigned int kRetentionPeriodMs = 60000;
const unsigned long long kMsPerMinute = 60000;
// The chunk of the size bound when no retention batch size is set.
const unsigned int kDefaultTrimChunk = 1000;
const int kIncrementalAutoVacuum = 2;

}  // namespace

unsigned long long LogService::GetRetentionTime() const {
    return m_retentionTime.load();
}

void LogService::SetRetentionTime(unsigned long long minutes) {
    m_retentionTime = minutes;
}

void LogService::EnableRetention(int enable) {
    if (enable) {
        if (!IsThreadRunning()) StartThread(0);
    } else if (IsThreadRunning()) {
        StopThread(kInfinite, 1);
    }
}

unsigned int LogService::OnThreadEntry() {
    while (!IsStopThread(kRetentionPeriodMs)) DeleteOldRecord();
    return 0;
}

void LogService::SetRetentionBatchSize(unsigned int rows) {
    m_retentionBatchSize = rows;
}

unsigned int LogService::GetRetentionBatchSize() const {
    return m_retentionBatchSize.load();
}

void LogService::SetRetentionMaxBytes(unsigned long long bytes) {
    m_retentionMaxBytes = bytes;
}

unsigned long long LogService::GetRetentionMaxBytes() const {
    return m_retentionMaxBytes.load();
}

int LogService::ReclaimSpace() {
    return Guarded(&m_broken, [&] {
        ForegroundLock lock(*this);
        CppSQLite3DB& db = Db();
        const bool incremental = db.QueryInt(logsql::kAutoVacuumQuery) == kIncrementalAutoVacuum;
        db.Execute(incremental ? logsql::kIncrementalVacuum : logsql::kVacuum);
        return kOk;
    });
}

void LogService::DeleteOldRecord() {
    // Unsigned arithmetic: a retention too large for 64 bits wraps instead of overflowing.
    const long long cutoff = static_cast<long long>(static_cast<unsigned long long>(GetCurTime()) -
                                                    m_retentionTime.load() * kMsPerMinute);
    const unsigned int batch = m_retentionBatchSize.load();
    const unsigned long long maxBytes = m_retentionMaxBytes.load();
    // An allocation that fails skips the pass; the next one comes a minute later.
    Guarded(nullptr, [&] {
        if (batch == 0) {
            RunStatement(logsql::DeleteBefore(cutoff), true);  // a failure still lets the bound run
        } else if (!DeleteExpiredInChunks(cutoff, batch)) {
            return kOk;
        }
        if (maxBytes != 0) DeleteOldestUntilWithin(maxBytes, batch ? batch : kDefaultTrimChunk);
        return kOk;
    });
}

bool LogService::DeleteExpiredInChunks(long long cutoff, unsigned int chunk) {
    const std::string statement = tcs_to_utf8(logsql::DeleteOldestBefore(cutoff, chunk));
    for (;;) {
        int changes = 0;
        if (DeleteChunk(statement, changes) != kOk) return false;
        if (static_cast<unsigned int>(changes) < chunk) return true;
        if (IsStopThread(0)) return false;
        m_lockTurns->LetWaitersIn();
    }
}

void LogService::DeleteOldestUntilWithin(unsigned long long bytes, unsigned int chunk) {
    const std::string statement = tcs_to_utf8(logsql::DeleteOldest(chunk));
    for (;;) {
        unsigned long long used = 0;
        if (UsedBytes(used) != kOk || used <= bytes) return;
        int changes = 0;
        // An empty table still over the bound (schema, indexes) can shrink no further.
        if (DeleteChunk(statement, changes) != kOk || changes == 0) return;
        if (IsStopThread(0)) return;
        m_lockTurns->LetWaitersIn();
    }
}

// The chunks take m_cs directly: they are not callers to be let in.
int LogService::DeleteChunk(const std::string& statement, int& changes) {
    return Guarded(&m_broken, [&] {
        CsLocker lock(m_cs);
        changes = Db().Execute(statement.c_str());
        return kOk;
    });
}

int LogService::UsedBytes(unsigned long long& used) {
    return Guarded(&m_broken, [&] {
        CsLocker lock(m_cs);
        CppSQLite3Query query = Db().Query(logsql::kUsedBytesQuery);
        const char* text = query.Eof() ? nullptr : query.FirstColumnText();
        used = text ? static_cast<unsigned long long>(logrows::ParseInt64(text)) : 0;
        query.Finalize();
        return kOk;
    });
}

}  // namespace Ovra
