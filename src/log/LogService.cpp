// LogService: the file, its table and single inserts. Search and counting, batches and retention
// have files of their own.
#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogServiceInternals.h"
#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

#include <string>

namespace Ovra {

using namespace logservice;

namespace {

const unsigned long long kDefaultRetentionMinutes = 60;

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

LogService::LogService()
    : m_db(new CppSQLite3DB),
      m_opened(0),
      m_broken(0),
      m_retentionTime(kDefaultRetentionMinutes),
      m_retentionBatchSize(0),
      m_retentionMaxBytes(0),
      m_visiting(false),
      m_lockTurns(new LockTurns) {}

LogService::~LogService() {
    // The worker runs a virtual of this class: it must end before anything here goes away.
    EnableRetention(0);
    Close();
    delete m_db;
    m_db = nullptr;
    delete m_lockTurns;
    m_lockTurns = nullptr;
}

int LogService::Open(const std::wstring& path) {
    ForegroundLock lock(*this);
    if (m_opened) return kAlreadyOpen;
    const int result = Guarded(nullptr, [&] {
        Db().Open(tcs_to_utf8(path).c_str());
        m_opened = 1;
        m_broken = 0;
        LoadFieldTypes(m_fieldTypes);
        return kOk;
    });
    if (result != kOk) {
        m_opened = 0;
        m_db->Close();
    }
    return result;
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
    return Guarded(nullptr, [&] {
        if (TableExists()) return kTableExists;
        const std::string sql = tcs_to_utf8(logsql::CreateTable(fields));
        std::map<std::wstring, LogVariant::Type> types;
        types[logsql::kTimeField] = LogVariant::Int64;
        for (const Field& field : fields) types[field.name] = field.type;

        ForegroundLock lock(*this);
        Db().Execute(sql.c_str());
        m_fieldTypes.swap(types);
        return kOk;
    });
}

int LogService::CreateIndex(const std::list<Field>& fields) {
    if (fields.empty()) return kEmptyInput;
    if (!AllNamesPlain(fields)) return kFailed;
    return Guarded(nullptr, [&] {
        if (!TableExists()) return kNoTable;
        // Every index is tried; the result is that of the last one that failed.
        int result = RunStatement(logsql::CreateIndex(logsql::kTimeField), false);
        for (const Field& field : fields) {
            const int one = RunStatement(logsql::CreateIndex(field.name), false);
            if (one != kOk) result = one;
        }
        return result;
    });
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
    int exists = 0;
    Guarded(nullptr, [&] {
        exists = TableExists() ? 1 : 0;
        return kOk;
    });
    return exists;
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

int LogService::DropTable() {
    return Guarded(nullptr, [&] { return RunStatement(logsql::DropTable(), false); });
}

void LogService::GetTableCustumFieldsType(std::map<std::wstring, LogVariant::Type>& types) {
    // Nothing is read from a database that cannot answer; `types` then stays as it was.
    Guarded(nullptr, [&] {
        ForegroundLock lock(*this);
        LoadFieldTypes(types);
        return kOk;
    });
}

void LogService::LoadFieldTypes(std::map<std::wstring, LogVariant::Type>& types) {
    CppSQLite3Query query = Db().Query(tcs_to_utf8(logsql::StoredCreateQuery()).c_str());
    const char* text = query.FirstColumnText();
    if (!text) return;  // no table yet
    types = logsql::ParseColumnTypes(utf8_to_tcs(text));
}

int LogService::RunStatement(const std::wstring& statement, bool markCorrupt) {
    return Guarded(markCorrupt ? &m_broken : nullptr, [&] {
        const std::string sql = tcs_to_utf8(statement);
        ForegroundLock lock(*this);
        Db().Execute(sql.c_str());
        return kOk;
    });
}

int LogService::Insert(const long long& time, const std::list<FieldData>& data) {
    if (data.empty()) return kEmptyInput;
    if (!AllNamesPlain(data)) return kFailed;
    return Guarded(nullptr, [&] { return RunStatement(logsql::Insert(time, data), true); });
}

int LogService::EnableWriteAheadLog(int enable) {
    return Guarded(nullptr, [&] {
        ForegroundLock lock(*this);
        CppSQLite3Query query = Db().Query(logsql::JournalMode(enable != 0));
        const bool switched =
            !query.Eof() &&
            EqualsIgnoringCase(query.FirstColumnText(), logsql::JournalModeName(enable != 0));
        query.Finalize();
        return switched ? kOk : kFailed;
    });
}

}  // namespace Ovra
