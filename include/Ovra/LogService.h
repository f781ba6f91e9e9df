#pragma once

#include <Ovra/Bases/Cs.h>
#include <Ovra/Bases/Thread.h>
#include <Ovra/Export.h>
#include <Ovra/LogVariant.h>

#include <atomic>
#include <list>
#include <map>
#include <string>

namespace Ovra {

class CppSQLite3DB;
struct LogServiceTestAccess;

// The log database: one SQLite file with the table "Ovra_Log", whose first column "Time" (INT64,
// milliseconds on the scale of GetCurTime) is followed by the caller's typed columns. Records are
// inserted, searched and counted; a worker deletes, once a minute, the records older than the
// retention time.
//
// Results: 0 success; 1 an SQLite or access failure (including a database that is not open) or a
// refused name; 102 out of memory; 104 an empty list or map; 116 the table exists already
// (Create); 120 already open (Open); 122 the table is missing (CreateIndex). No exception leaves
// any operation.
//
// Safety choices:
// - Text values of Insert and the quoted values of search conditions have every single quote
//   doubled, so any text is stored and matched unchanged and no value can alter a statement;
//   texts without quotes give exactly the plain statements.
// - A text bound of a range condition (compare 2) that is a plain decimal number is written
//   unquoted, as numbers are; any other text bound is written as a quoted literal.
// - Column names (Field and FieldData names, condition keys) must be plain identifiers
//   ([A-Za-z_][A-Za-z0-9_]*). Create, CreateIndex and Insert refuse any other name with 1 before
//   anything runs. GetSearchQuery builds nothing and returns 0 for such a key, and Search with
//   such a key returns 1 and runs nothing (an empty map still gives 104).
// - Create and CreateIndex on a service that is not open return 1. ExistTable reports 0 when the
//   existence query fails.
// - GetRecordCount reports counts beyond the 32-bit range correctly.
// - A stored column whose type word is unknown comes back from a search as an empty (None) value.
// - Result columns are matched to the column names by their UTF-8 form.
// - The destructor stops a running retention worker before anything is released.
class OVRA_PLATFORM_MISC_API LogService : private Thread {
public:
    // A column declaration. constraint: 1 " unique", 2 " not null", anything else nothing.
    struct Field {
        std::wstring name;
        LogVariant::Type type = LogVariant::None;
        int constraint = 0;
    };

    // One column value of a record.
    struct FieldData {
        std::wstring name;
        LogVariant value;
    };

    // A condition on one column. compare: 0 "= 'value'", 1 "LIKE '%value%'", 2 "between value AND
    // upperValue", anything else no comparison. relation joins it to the next condition of the
    // map: 0 " AND ", anything else " OR ".
    struct SearchQuery {
        int relation = 0;
        int compare = 0;
        LogVariant value;
        LogVariant upperValue;
    };

    using Record = std::list<FieldData>;

    LogService();
    virtual ~LogService();
    LogService(const LogService&) = delete;
    LogService& operator=(const LogService&) = delete;

    // Opens (creating when missing) the database file and reads back the column types of an
    // existing table. 120 when already open.
    int Open(const std::wstring& path);
    void Close();
    // Creates the table: 104 for no fields, 116 when it exists.
    int Create(const std::list<Field>& fields);
    // Creates the index of the time column and one per field: 104 for no fields, 122 without the
    // table; else 0, or the result of the last statement that failed.
    int CreateIndex(const std::list<Field>& fields);
    int IsOpened() const;
    // Nonzero once SQLite has reported the file corrupt since it was opened.
    int IsBrokenLogFile() const;
    static std::wstring GetTimeFieldName();

    // Writes one record; columns not named are NULL. 104 for no values.
    int Insert(const long long& time, const std::list<FieldData>& data);

    // Every record matching `clause` (SQL following the table name: WHERE, ORDER BY, LIMIT, or
    // nothing), each as the typed values of its non-NULL columns in column-name order.
    int Search(const std::wstring& clause, std::list<Record>& rows);
    // The same for a map of conditions: 104 for an empty map.
    int Search(const std::map<std::wstring, SearchQuery>& conditions, std::list<Record>& rows);
    int GetRecordCount(const std::wstring& clause, unsigned long long& count);
    // The SELECT statement of a condition map: 1 when built, 0 (statement unchanged) when the map
    // is empty or a key is not a plain identifier.
    static int GetSearchQuery(const std::map<std::wstring, SearchQuery>& conditions,
                              std::wstring& statement);

    // Retention in minutes (60 by default); the worker deletes records whose time is older than
    // the current time minus the retention.
    unsigned long long GetRetentionTime() const;
    void SetRetentionTime(unsigned long long minutes);
    // Nonzero starts the worker when it is not running; zero stops it and waits for its end.
    void EnableRetention(int enable);

protected:
    int ExistTable() const;
    int DropTable();
    void GetTableCustumFieldsType(std::map<std::wstring, LogVariant::Type>& types);
    // One retention pass; failures are ignored apart from marking a corrupt file.
    void DeleteOldRecord();
    unsigned int OnThreadEntry() override;

private:
    friend struct LogServiceTestAccess;

    bool TableExists() const;
    void LoadFieldTypes(std::map<std::wstring, LogVariant::Type>& types);
    int RunStatement(const std::wstring& statement, bool markCorrupt);
    int RunSearch(const std::wstring& statement, std::list<Record>& rows);

    CppSQLite3DB* m_db;
    std::atomic<int> m_opened;
    std::atomic<int> m_broken;
    std::atomic<unsigned long long> m_retentionTime;
    std::map<std::wstring, LogVariant::Type> m_fieldTypes;
    mutable Cs m_cs;
};

}  // namespace Ovra
