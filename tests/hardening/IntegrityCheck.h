#pragma once

// SQLite's own verdict on a database file ("ok" when sound), through a connection of this
// process's SQLite: the native builds only, where tests link the same SQLite as the library.

#include <sqlite3.h>

#include <string>

namespace Ovra {
namespace hardening {

inline std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            verdict = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return verdict;
}

}  // namespace hardening
}  // namespace Ovra
