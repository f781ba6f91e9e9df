#pragma once

// Cursors of the log database: a position that a reader keeps as text and resumes from later,
// also after a restart of either process.
//
// A cursor reads "ovra1:<rowid>:<time>": the rowid of a record and its Time. The empty text is the
// position before the first record. LogService::ReadAfter hands over the records after a cursor
// in insertion order (oldest first), each with its own cursor, each exactly once; only records
// that retention deleted meanwhile are missed. GetCursorAtEnd gives the cursor of the newest
// record ("ovra1:0:0" for an empty table).
//
// SQLite gives a new record the largest rowid plus one, so a rowid comes back once the newest
// records have been deleted (a table emptied by retention starts again at 1). ReadAfter detects
// it: the record of the cursor still there with another Time, or gone with no larger rowid in
// the table (an emptied table included). It then answers 121 (the position is lost) and hands
// over nothing; reading again from "" gives every record present, so a reader that must miss
// nothing resumes from there and may see again the older records still kept. Records deleted
// out of time order by another writer can hide a reuse. A cursor of another file is caught the
// same way.
//
// Results of ReadAfter: 0 (also when nothing follows; a nonzero answer of the visitor ends the
// reading, still 0); 141 a text that is no cursor; 121 a lost position; 1, 102 as for Search.
// `limit` bounds the records of one call (0: no bound). The lock is held as by the streaming
// Search: the visitor must not call the service.

#include <Ovra/LogService.h>

#include <list>
#include <string>

namespace Ovra {

class LogCursorVisitor {
public:
    // Returns nonzero to end the reading.
    virtual int OnLogRecord(const std::wstring& cursor,
                            const std::list<LogService::FieldData>& record) = 0;

protected:
    virtual ~LogCursorVisitor() = default;
};

}  // namespace Ovra
