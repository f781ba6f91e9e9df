#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogRows.h"
#include "src/log/LogStatements.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/StringConv.h>

#include <sqlite3.h>

#include <new>
#include <stdexcept>
#include <string>
#include <thread>

namespace Ovra {

namespace {

const int kOk = 0;
const int kFailed = 1;
const int kOutOfMemory = 102;
const int kEmptyInput = 104;
const int kTableExists = 116;
const int kAlreadyOpen = 120;
const int kNoTable = 122;

const unsigned int kRetentionPeriodMs = 60000;
const unsigned long long kMsPerMinute = 60000;
const unsigned long long kDefaultRetentionMinutes = 60;
// The chunk of the size bound when no retention batch size is set.
const unsigned int kDefaultTrimChunk = 1000;
const int kIncrementalAutoVacuum = 2;
// How long a chunked pass lets waiting callers go first, in yields of its thread.
const int kMaxYields = 20000;

int MapError(int sqliteCode) {
    return sqliteCode == SQLITE_NOMEM ? kOutOfMemory : kFailed;
}

template <typename List>
bool AllNamesPlain(const List& items) {
    for (const auto& item : items) {
        if (!logsql::IsPlainIdentifier(item.name)) return false;
    }
    return true;
}

bool EqualsIgnoringCase(const char* text, const char* lower) {
    if (!text) return false;
    for (; *text && *lower; ++text, ++lower) {
        const char c =
            (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *lower) return false;
    }
    return *text == *lower;
}

}  // namespace

// Takes m_cs for a caller, counted so that a chunked retention pass can let it in between two
// chunks.
class LogService::ForegroundLock {
public:
    explicit ForegroundLock(const LogService& service) : m_service(service) {
        ++m_service.m_lockWaiters;
        m_service.m_cs.Lock();
        --m_service.m_lockWaiters;
        ++m_service.m_lockGrants;
    }
    ~ForegroundLock() { m_service.m_cs.Unlock(); }
    ForegroundLock(const ForegroundLock&) = delete;
    ForegroundLock& operator=(const ForegroundLock&) = delete;

private:
    const LogService& m_service;
};

// Marks the service as inside a visitor call of a streaming search for its lifetime.
class LogService::VisitGuard {
public:
    explicit VisitGuard(bool& visiting) : m_visiting(visiting) { m_visiting = true; }
    ~VisitGuard() { m_visiting = false; }
    VisitGuard(const VisitGuard&) = delete;
    VisitGuard& operator=(const VisitGuard&) = delete;

private:
    bool& m_visiting;
};

LogService::LogService()
    : m_db(new CppSQLite3DB),
      m_opened(0),
      m_broken(0),
      m_retentionTime(kDefaultRetentionMinutes),
      m_retentionBatchSize(0),
      m_retentionMaxBytes(0),
      m_visiting(false),
      m_lockWaiters(0),
      m_lockGrants(0) {}

LogService::~LogService() {
    // The worker runs a virtual of this class: it must end before anything here goes away.
    EnableRetention(0);
    Close();
    delete m_db;
    m_db = nullptr;
}

int LogService::Open(const std::wstring& path) {
    ForegroundLock lock(*this);
    if (m_opened) return kAlreadyOpen;
    try {
        Db().Open(tcs_to_utf8(path).c_str());
        m_opened = 1;
        m_broken = 0;
        LoadFieldTypes(m_fieldTypes);
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        m_opened = 0;
        m_db->Close();
        return MapError(error.ErrorCode());
    } catch (const std::bad_alloc&) {
        m_opened = 0;
        m_db->Close();
        return kOutOfMemory;
    }
}

void LogService::Close() {
    ForegroundLock lock(*this);
    if (!m_opened || m_visiting) return;
    m_db->Close();
    m_opened = 0;
    m_broken = 0;
}

int LogService::Create(const std::list<Field>& fields) {
    if (fields.empty()) return kEmptyInput;
    if (!AllNamesPlain(fields)) return kFailed;
    try {
        if (TableExists()) return kTableExists;
        const std::string sql = tcs_to_utf8(logsql::CreateTable(fields));
        std::map<std::wstring, LogVariant::Type> types;
        types[logsql::kTimeField] = LogVariant::Int64;
        for (const Field& field : fields) types[field.name] = field.type;

        ForegroundLock lock(*this);
        Db().Execute(sql.c_str());
        m_fieldTypes.swap(types);
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return MapError(error.ErrorCode());
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::CreateIndex(const std::list<Field>& fields) {
    if (fields.empty()) return kEmptyInput;
    if (!AllNamesPlain(fields)) return kFailed;
    try {
        if (!TableExists()) return kNoTable;
    } catch (const CppSQLite3Exception& error) {
        return MapError(error.ErrorCode());
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    // Every index is tried; the result is that of the last one that failed.
    int result = kOk;
    auto createOne = [&](const std::wstring& column) {
        const int one = RunStatement(logsql::CreateIndex(column), false);
        if (one != kOk) result = one;
    };
    try {
        createOne(logsql::kTimeField);
        for (const Field& field : fields) createOne(field.name);
    } catch (const std::bad_alloc&) {
        result = kOutOfMemory;
    }
    return result;
}

int LogService::IsOpened() const {
    return m_opened.load();
}

int LogService::IsBrokenLogFile() const {
    return m_broken.load();
}

std::wstring LogService::GetTimeFieldName() {
    return logsql::kTimeField;
}

int LogService::ExistTable() const {
    try {
        return TableExists() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

bool LogService::TableExists() const {
    const std::string sql = logsql::TableExistsQuery();
    ForegroundLock lock(*this);
    return Db().QueryInt(sql.c_str()) > 0;
}

CppSQLite3DB& LogService::Db() const {
    // The Cs is recursive: a visitor calling back into the service on the searching thread gets
    // the lock, and must not get the connection in the middle of the search's statement.
    if (m_visiting) {
        throw CppSQLite3Exception(CppSQLite3Exception::kLayerError,
                                  "Called from inside a search visitor");
    }
    return *m_db;
}

int LogService::Fail(int sqliteCode, bool markCorrupt) {
    if (markCorrupt && sqliteCode == SQLITE_CORRUPT) m_broken = 1;
    return MapError(sqliteCode);
}

int LogService::DropTable() {
    try {
        return RunStatement(logsql::DropTable(), false);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

void LogService::GetTableCustumFieldsType(std::map<std::wstring, LogVariant::Type>& types) {
    try {
        ForegroundLock lock(*this);
        LoadFieldTypes(types);
    } catch (...) {
        // Nothing is read from a database that cannot answer; `types` stays as it was.
    }
}

void LogService::LoadFieldTypes(std::map<std::wstring, LogVariant::Type>& types) {
    CppSQLite3Query query = Db().Query(tcs_to_utf8(logsql::StoredCreateQuery()).c_str());
    const char* text = query.FirstColumnText();
    if (!text) return;  // no table yet
    types = logsql::ParseColumnTypes(utf8_to_tcs(text));
}

int LogService::RunStatement(const std::wstring& statement, bool markCorrupt) {
    try {
        const std::string sql = tcs_to_utf8(statement);
        ForegroundLock lock(*this);
        Db().Execute(sql.c_str());
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), markCorrupt);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::Insert(const long long& time, const std::list<FieldData>& data) {
    if (data.empty()) return kEmptyInput;
    if (!AllNamesPlain(data)) return kFailed;
    try {
        return RunStatement(logsql::Insert(time, data), true);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::Insert(const std::list<Record>& records) {
    if (records.empty()) return kEmptyInput;
    for (const Record& record : records) {
        if (record.data.empty()) return kEmptyInput;
    }
    for (const Record& record : records) {
        if (!AllNamesPlain(record.data)) return kFailed;
    }
    try {
        std::string sql = "BEGIN;";
        for (const Record& record : records) {
            const std::wstring insert = logsql::Insert(record.time, record.data);
            // Sized by the first record, so the text is not copied over and over as it grows.
            if (&record == &records.front()) sql.reserve(insert.size() * 3 / 2 * records.size());
            AppendUtf8(insert.data(), insert.size(), sql);
        }
        sql += "COMMIT;";

        ForegroundLock lock(*this);
        CppSQLite3DB& db = Db();
        try {
            db.Execute(sql.c_str());
            return kOk;
        } catch (const CppSQLite3Exception& error) {
            // SQLite rolls some failures back by itself; whatever is still open goes here.
            if (db.InTransaction()) {
                try {
                    db.Execute("ROLLBACK");
                } catch (const CppSQLite3Exception&) {
                }
            }
            return Fail(error.ErrorCode(), true);
        }
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::Search(const std::wstring& clause, std::list<std::list<FieldData>>& rows) {
    try {
        return RunSearch(logsql::SelectAll(clause), rows);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::Search(const std::map<std::wstring, SearchQuery>& conditions,
                       std::list<std::list<FieldData>>& rows) {
    try {
        std::wstring statement;
        switch (logsql::Search(conditions, statement)) {
            case logsql::SearchBuild::kEmpty:
                return kEmptyInput;
            case logsql::SearchBuild::kBadName:
                rows.clear();
                return kFailed;
            case logsql::SearchBuild::kBuilt:
                break;
        }
        return RunSearch(statement, rows);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::RunSearch(const std::wstring& statement, std::list<std::list<FieldData>>& rows) {
    try {
        const std::string sql = tcs_to_utf8(statement);
        rows.clear();
        // The lock is held through the conversion: the column types must not change under it.
        ForegroundLock lock(*this);
        const CppSQLite3Table table = Db().QueryTable(sql.c_str());
        logrows::AppendRecords(table, m_fieldTypes, rows);
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (const std::length_error&) {
        return kOutOfMemory;
    }
}

int LogService::Search(const std::wstring& clause, LogSearchVisitor& visitor) {
    try {
        const std::string sql = tcs_to_utf8(logsql::SelectAll(clause));
        // Held across the visitor calls: the column types must not change under the reading.
        ForegroundLock lock(*this);
        CppSQLite3Query query = Db().Query(sql.c_str());
        if (!query.HasStatement() || query.Eof()) return kOk;
        logrows::RecordReader reader(m_fieldTypes);
        reader.Resolve(query);
        const auto values = [&query](int index) { return query.ColumnText(index); };
        VisitGuard visiting(m_visiting);
        do {
            logrows::Row record;
            reader.Read(values, record);
            if (visitor.OnLogRecord(record)) break;
        } while (query.NextRow());
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::GetRecordCount(const std::wstring& clause, unsigned long long& count) {
    count = 0;
    try {
        const std::string sql = tcs_to_utf8(logsql::Count(clause));
        ForegroundLock lock(*this);
        CppSQLite3Table table = Db().QueryTable(sql.c_str());
        if (table.RowCount() != 0) {
            table.SelectRow(0);
            const char* text = table.ValueByName(logsql::kCountColumn);
            if (text) count = static_cast<unsigned long long>(logrows::ParseInt64(text));
        }
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::GetSearchQuery(const std::map<std::wstring, SearchQuery>& conditions,
                               std::wstring& statement) {
    try {
        return logsql::Search(conditions, statement) == logsql::SearchBuild::kBuilt ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

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
    try {
        ForegroundLock lock(*this);
        CppSQLite3DB& db = Db();
        const bool incremental = db.QueryInt(logsql::kAutoVacuumQuery) == kIncrementalAutoVacuum;
        db.Execute(incremental ? logsql::kIncrementalVacuum : logsql::kVacuum);
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::EnableWriteAheadLog(int enable) {
    try {
        ForegroundLock lock(*this);
        CppSQLite3Query query = Db().Query(logsql::JournalMode(enable != 0));
        const bool switched =
            !query.Eof() &&
            EqualsIgnoringCase(query.FirstColumnText(), logsql::JournalModeName(enable != 0));
        query.Finalize();
        return switched ? kOk : kFailed;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), false);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

void LogService::DeleteOldRecord() {
    // Unsigned arithmetic: a retention too large for 64 bits wraps instead of overflowing.
    const long long cutoff = static_cast<long long>(static_cast<unsigned long long>(GetCurTime()) -
                                                    m_retentionTime.load() * kMsPerMinute);
    const unsigned int batch = m_retentionBatchSize.load();
    const unsigned long long maxBytes = m_retentionMaxBytes.load();
    try {
        if (batch == 0) {
            if (RunStatement(logsql::DeleteBefore(cutoff), true) != kOk && maxBytes == 0) return;
        } else if (!DeleteExpiredInChunks(cutoff, batch)) {
            return;
        }
        if (maxBytes != 0) DeleteOldestUntilWithin(maxBytes, batch ? batch : kDefaultTrimChunk);
    } catch (const std::bad_alloc&) {
        // The pass is skipped; the next one comes a minute later.
    }
}

bool LogService::DeleteExpiredInChunks(long long cutoff, unsigned int chunk) {
    const std::string statement = tcs_to_utf8(logsql::DeleteOldestBefore(cutoff, chunk));
    for (;;) {
        int changes = 0;
        if (DeleteChunk(statement, changes) != kOk) return false;
        if (static_cast<unsigned int>(changes) < chunk) return true;
        if (IsStopThread(0)) return false;
        LetWaitersIn();
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
        LetWaitersIn();
    }
}

int LogService::DeleteChunk(const std::string& statement, int& changes) {
    try {
        CsLocker lock(m_cs);
        changes = Db().Execute(statement.c_str());
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    }
}

void LogService::LetWaitersIn() {
    // A released lock goes to whichever thread takes it first, and the pass, already running,
    // nearly always wins: callers waiting now get in (one at least) before the next chunk.
    // Bounded: a caller may be waiting for someone else's long search, not for this pass.
    const unsigned long long grants = m_lockGrants.load();
    for (int i = 0; i < kMaxYields && m_lockWaiters.load() != 0 && m_lockGrants.load() == grants;
         ++i) {
        std::this_thread::yield();
    }
}

int LogService::UsedBytes(unsigned long long& used) {
    try {
        CsLocker lock(m_cs);
        CppSQLite3Query query = Db().Query(logsql::kUsedBytesQuery);
        const char* text = query.Eof() ? nullptr : query.FirstColumnText();
        used = text ? static_cast<unsigned long long>(logrows::ParseInt64(text)) : 0;
        query.Finalize();
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        return Fail(error.ErrorCode(), true);
    }
}

}  // namespace Ovra
