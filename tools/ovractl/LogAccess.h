#pragma once

// Opens a log database for one command and reads its column types.

#include <Ovra/LogService.h>

#include <map>
#include <string>

namespace ovractl {

using ColumnTypes = std::map<std::wstring, Ovra::LogVariant::Type>;

// The service with the two protected operations that a command-line user may ask for directly.
class InspectableLog : public Ovra::LogService {
public:
    void ReadColumnTypes(ColumnTypes& types) { GetTableCustumFieldsType(types); }
    void RunRetentionPass() { DeleteOldRecord(); }
};

// 0 for a result of 0; otherwise prints `what` with the result's meaning and returns the result.
int Require(int code, const std::string& what);

class LogDatabase {
public:
    ~LogDatabase() { m_log.Close(); }
    // Opens `path`; a database that must exist already (create false) and a missing folder are
    // refused before SQLite would create anything. Prints the error; returns the exit code.
    int Open(const std::string& path, bool create);
    InspectableLog& Service() { return m_log; }
    const ColumnTypes& Types() const { return m_types; }

private:
    InspectableLog m_log;
    ColumnTypes m_types;
};

}  // namespace ovractl
