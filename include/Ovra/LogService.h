#pragma once

#include <Ovra/Bases/Cs.h>
#include <Ovra/Bases/Thread.h>
#include <Ovra/Export.h>
#include <Ovra/LogVariant.h>

#include <atomic>
#include <list>
#include <map>
#include <string>

#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4251)  // standard-library members of an exported class
#endif

namespace Ovra {

class CppSQLite3DB;
class LogCursorVisitor;  // <Ovra/LogCursor.h>
class LogSearchVisitor;
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
// - The bounds of a range condition (compare 2) are written as their text forms stand, unquoted,
//   whatever their type: a text bound is SQL, as the clause of Search is.
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
//
// For long-running logs (all opt-in; without them every operation behaves as described above):
// - Insert of a list of records writes them in one transaction, all or nothing: well over ten
//   times the rate of one Insert per record.
// - EnableWriteAheadLog switches the file to SQLite's write-ahead log.
// - SetRetentionBatchSize makes the retention pass delete in short chunks, so that inserts and
//   searches go on during a large expiry; SetRetentionMaxBytes bounds the space the records use;
//   ReclaimSpace gives free pages back to the file system.
// - Search with a LogSearchVisitor hands over one record at a time instead of the whole result.
// - ReadAfter resumes from a cursor (LogCursor.h: 141 a cursor that is not ours, 121 a position
//   that is lost); CreateTextIndex keeps a full-text index (141 a query the index rejects).
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

    // A record to insert: its time (milliseconds, as for the single Insert) and its values.
    struct Record {
        long long time = 0;
        std::list<FieldData> data;
    };

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
    // Writes every record, each with the statement the single Insert builds, in one transaction:
    // all are stored or none. 104 for an empty list or a record without values and 1 for a name
    // that is not a plain identifier, before anything runs; otherwise 0, or the result of the
    // first statement that failed (the whole batch is then rolled back).
    int Insert(const std::list<Record>& records);

    // Every record matching `clause` (SQL following the table name: WHERE, ORDER BY, LIMIT, or
    // nothing), each as the typed values of its non-NULL columns in column-name order.
    int Search(const std::wstring& clause, std::list<std::list<FieldData>>& rows);
    // The same for a map of conditions: 104 for an empty map.
    int Search(const std::map<std::wstring, SearchQuery>& conditions,
               std::list<std::list<FieldData>>& rows);
    // The same records, typed the same way (a Float or Double value exactly as stored, where the
    // list form parses its 15-digit text), handed to `visitor` one at a time as SQLite steps to
    // them, so the result is never held in memory; a nonzero answer of the visitor ends the search
    // (still 0). Results as for Search. The lock of the service is held from the first row to the
    // last visitor call: other operations and the retention worker wait until the search ends.
    // The visitor must not call this service: on the searching thread such a call fails with 1
    // (or does nothing, for Close); from another thread it would wait for the search to end.
    int Search(const std::wstring& clause, LogSearchVisitor& visitor);
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
    // 0 (the default): a pass deletes the expired records with one statement, which holds the
    // lock (and the file's write lock) until all are gone. n > 0: it deletes them oldest first,
    // at most n at a time, releasing the lock between chunks so that inserts and searches go on,
    // and ends early on a stop request. Chunks are quick when the time column is indexed
    // (CreateIndex).
    void SetRetentionBatchSize(unsigned int rows);
    unsigned int GetRetentionBatchSize() const;
    // 0 (the default): no bound. Otherwise, after the expired records, each pass deletes the
    // oldest records, in chunks (of the batch size, or 1000 when it is 0), until the pages in use
    // take at most `bytes`; up to one chunk more than strictly needed may go. Pages freed this way
    // stay in the file for reuse by later records; ReclaimSpace gives them back.
    void SetRetentionMaxBytes(unsigned long long bytes);
    unsigned long long GetRetentionMaxBytes() const;

    // Gives the free pages of the file back to the file system: "PRAGMA incremental_vacuum" when
    // the file was made with auto_vacuum=INCREMENTAL, else VACUUM, which rewrites the whole file
    // and needs free disk space up to its size. It runs only when called, and holds the lock
    // (inserts wait) for its whole duration. 0, or the error mapping.
    int ReclaimSpace();

    // Nonzero switches the open file to SQLite's write-ahead log, zero back to the rollback
    // journal; 0 when SQLite reports the mode asked for, else 1 (or 102), also when not open.
    // The write-ahead log makes each small transaction several times cheaper and lets readers of
    // other connections go on while a write runs (the writer is not blocked by them either). It
    // keeps two more files beside the database ("-wal" and "-shm"), all connections must be on
    // the same machine, and the setting stays with the file: later opens use it too. Going back
    // to the rollback journal needs that no other connection has the file open (it waits for
    // them up to the busy timeout of a minute, then fails).
    int EnableWriteAheadLog(int enable);

    // Cursors: the records after `cursor`, and the cursor of the newest record. See LogCursor.h.
    int ReadAfter(const std::wstring& cursor, size_t limit, LogCursorVisitor& visitor);
    int GetCursorAtEnd(std::wstring& cursor);
    // A number that changes whenever this or another connection may have changed the file; reads
    // no table, so a follower polls it and calls ReadAfter only when it moved.
    int GetDataVersion(unsigned long long& version);

    // An opt-in full-text index (SQLite FTS5) over text columns of the table, kept in step by
    // triggers in the same transaction as every insert, batch and retention delete. 104 for no
    // columns; 1 for a name that is no text column of the table; 116 when there is one already;
    // 122 without the table. Its pages count towards SetRetentionMaxBytes.
    int CreateTextIndex(const std::list<std::wstring>& columns);
    // The records matching an FTS5 query (words, "phrases", prefix*, AND/OR/NOT, NEAR, column:),
    // oldest first, streamed as by Search. The query is bound, never spliced into SQL. 141 for a
    // query FTS5 rejects, 122 without a text index.
    int SearchText(const std::wstring& query, LogSearchVisitor& visitor);
    int GetTextCount(const std::wstring& query, unsigned long long& count);

protected:
    int ExistTable() const;
    int DropTable();
    void GetTableCustumFieldsType(std::map<std::wstring, LogVariant::Type>& types);
    // One retention pass; failures are ignored apart from marking a corrupt file.
    void DeleteOldRecord();
    unsigned int OnThreadEntry() override;

private:
    friend struct LogServiceTestAccess;

    class ForegroundLock;
    class LockTurns;

    CppSQLite3DB& Db() const;
    bool TableExists() const;
    void LoadFieldTypes(std::map<std::wstring, LogVariant::Type>& types);
    int RunStatement(const std::wstring& statement, bool markCorrupt);
    int RunSearch(const std::wstring& statement, std::list<std::list<FieldData>>& rows);
    // Runs `statement` (with `bound` as its parameter ?1, when given) under the lock, handing
    // each result row to `onRow`, which returns true to stop; failures are thrown.
    template <typename OnRow>
    void StepRows(const std::wstring& statement, OnRow onRow, const std::string* bound = nullptr);
    bool DeleteExpiredInChunks(long long cutoff, unsigned int chunk);
    void DeleteOldestUntilWithin(unsigned long long bytes, unsigned int chunk);
    int DeleteChunk(const std::string& statement, int& changes);
    int UsedBytes(unsigned long long& used);

    CppSQLite3DB* m_db;
    std::atomic<int> m_opened;
    std::atomic<int> m_broken;
    std::atomic<unsigned long long> m_retentionTime;
    std::map<std::wstring, LogVariant::Type> m_fieldTypes;
    mutable Cs m_cs;
    std::atomic<unsigned int> m_retentionBatchSize;
    std::atomic<unsigned long long> m_retentionMaxBytes;
    bool m_visiting;         // under m_cs: a streaming search is calling its visitor
    LockTurns* m_lockTurns;  // lets a chunked retention pass step aside for waiting callers
};

// Receives the records of LogService::Search one at a time, on the searching thread, with the
// service's lock held (see there). Returns nonzero to end the search.
class LogSearchVisitor {
public:
    virtual int OnLogRecord(const std::list<LogService::FieldData>& record) = 0;

protected:
    virtual ~LogSearchVisitor() = default;
};

}  // namespace Ovra

#if defined(_MSC_VER)
#pragma warning(pop)
#endif
