#include <Ovra/LogService.h>

#include "log/CppSQLite3.h"
#include "log/LogRows.h"
#include "log/LogStatements.h"

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/StringConv.h>

#include <sqlite3.h>

#include <new>
#include <stdexcept>

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

}  // namespace

LogService::LogService()
    : m_db(new CppSQLite3DB), m_opened(0), m_broken(0), m_retentionTime(kDefaultRetentionMinutes) {}

LogService::~LogService() {
    // The worker runs a virtual of this class: it must end before anything here goes away.
    EnableRetention(0);
    Close();
    delete m_db;
    m_db = nullptr;
}

int LogService::Open(const std::wstring& path) {
    CsLocker lock(m_cs);
    if (m_opened) return kAlreadyOpen;
    try {
        m_db->Open(tcs_to_utf8(path).c_str());
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
    CsLocker lock(m_cs);
    if (!m_opened) return;
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

        CsLocker lock(m_cs);
        m_db->Execute(sql.c_str());
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
    CsLocker lock(m_cs);
    return m_db->QueryInt(sql.c_str()) > 0;
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
        CsLocker lock(m_cs);
        LoadFieldTypes(types);
    } catch (...) {
        // Nothing is read from a database that cannot answer; `types` stays as it was.
    }
}

void LogService::LoadFieldTypes(std::map<std::wstring, LogVariant::Type>& types) {
    CppSQLite3Query query = m_db->Query(tcs_to_utf8(logsql::StoredCreateQuery()).c_str());
    const char* text = query.FirstColumnText();
    if (!text) return;  // no table yet
    types = logsql::ParseColumnTypes(utf8_to_tcs(text));
}

int LogService::RunStatement(const std::wstring& statement, bool markCorrupt) {
    try {
        const std::string sql = tcs_to_utf8(statement);
        CsLocker lock(m_cs);
        m_db->Execute(sql.c_str());
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        if (markCorrupt && error.ErrorCode() == SQLITE_CORRUPT) m_broken = 1;
        return MapError(error.ErrorCode());
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

int LogService::Search(const std::wstring& clause, std::list<Record>& rows) {
    try {
        return RunSearch(logsql::SelectAll(clause), rows);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int LogService::Search(const std::map<std::wstring, SearchQuery>& conditions,
                       std::list<Record>& rows) {
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

int LogService::RunSearch(const std::wstring& statement, std::list<Record>& rows) {
    try {
        const std::string sql = tcs_to_utf8(statement);
        rows.clear();
        // The lock is held through the conversion: the column types must not change under it.
        CsLocker lock(m_cs);
        const CppSQLite3Table table = m_db->QueryTable(sql.c_str());
        logrows::AppendRecords(table, m_fieldTypes, rows);
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        if (error.ErrorCode() == SQLITE_CORRUPT) m_broken = 1;
        return MapError(error.ErrorCode());
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (const std::length_error&) {
        return kOutOfMemory;
    }
}

int LogService::GetRecordCount(const std::wstring& clause, unsigned long long& count) {
    count = 0;
    try {
        const std::string sql = tcs_to_utf8(logsql::Count(clause));
        CsLocker lock(m_cs);
        CppSQLite3Table table = m_db->QueryTable(sql.c_str());
        if (table.RowCount() != 0) {
            table.SelectRow(0);
            const char* text = table.ValueByName(logsql::kCountColumn);
            if (text) count = static_cast<unsigned long long>(logrows::ParseInt64(text));
        }
        return kOk;
    } catch (const CppSQLite3Exception& error) {
        if (error.ErrorCode() == SQLITE_CORRUPT) m_broken = 1;
        return MapError(error.ErrorCode());
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
        StopThread(0xFFFFFFFF, 1);
    }
}

unsigned int LogService::OnThreadEntry() {
    while (!IsStopThread(kRetentionPeriodMs)) DeleteOldRecord();
    return 0;
}

void LogService::DeleteOldRecord() {
    // Unsigned arithmetic: a retention too large for 64 bits wraps instead of overflowing.
    const long long cutoff = static_cast<long long>(static_cast<unsigned long long>(GetCurTime()) -
                                                    m_retentionTime.load() * kMsPerMinute);
    try {
        RunStatement(logsql::DeleteBefore(cutoff), true);
    } catch (const std::bad_alloc&) {
        // The pass is skipped; the next one comes a minute later.
    }
}

}  // namespace Ovra
