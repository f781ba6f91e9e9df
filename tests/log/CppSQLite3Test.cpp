#include "LogTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace Ovra {
namespace {

using logtest::RawDb;
using logtest::ScratchDir;

// Runs `body` and returns the access-layer error it raised (code -1 when it raised none).
template <typename Body>
std::pair<int, std::string> Raised(Body body) {
    try {
        body();
    } catch (const CppSQLite3Exception& error) {
        return {error.ErrorCode(), error.Message() ? error.Message() : "<null>"};
    }
    return {-1, ""};
}

TEST(CppSQLite3Exception, MessagesNameTheCodeAndCopiesOwnTheirText) {
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(0), "SQLITE_OK");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(7), "SQLITE_NOMEM");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(11), "SQLITE_CORRUPT");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(25), "SQLITE_RANGE");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(101), "SQLITE_DONE");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(1000), "CPPSQLITE_ERROR");
    // Not-a-database and extended codes are not in the table.
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(26), "UNKNOWN_ERROR");
    EXPECT_STREQ(CppSQLite3Exception::ErrorCodeName(266), "UNKNOWN_ERROR");

    CppSQLite3Exception error(5, nullptr);
    EXPECT_STREQ(error.Message(), "SQLITE_BUSY[5]: ");
    const CppSQLite3Exception copy(error);
    EXPECT_NE(copy.Message(), error.Message());
    EXPECT_STREQ(copy.Message(), "SQLITE_BUSY[5]: ");
    EXPECT_EQ(copy.ErrorCode(), 5);
}

TEST(CppSQLite3DB, ClosedConnectionAndBadPathFailWithTheirCodes) {
    CppSQLite3DB db;
    const auto closed = Raised([&] { db.Execute("select 1"); });
    EXPECT_EQ(closed.first, 1000);
    EXPECT_EQ(closed.second, "CPPSQLITE_ERROR[1000]: Database not open");
    EXPECT_EQ(Raised([&] { db.QueryTable("select 1"); }).first, 1000);
    EXPECT_EQ(Raised([&] { db.Query("select 1"); }).first, 1000);

    ScratchDir dir;
    const auto missing = Raised([&] { db.Open(dir.Utf8Path("no-such-dir/log.db").c_str()); });
    EXPECT_EQ(missing.first, 14);
    EXPECT_FALSE(db.IsOpen());  // the failed handle is not kept
    db.Open(dir.Utf8Path("log.db").c_str());
    EXPECT_TRUE(db.IsOpen());
}

TEST(CppSQLite3DB, QueriesReturnScalarsRowsAndTheirErrors) {
    ScratchDir dir;
    CppSQLite3DB db;
    db.Open(dir.Utf8Path("log.db").c_str());
    db.Execute(
        "create table t(a INT, b TEXT); insert into t values(1, 'x'); "
        "insert into t values(2, NULL);");
    EXPECT_EQ(db.QueryInt("select count(*) from t"), 2);
    EXPECT_EQ(Raised([&] { db.QueryInt("select a from t where a > 5"); }).second,
              "CPPSQLITE_ERROR[1000]: Invalid scalar query");
    EXPECT_EQ(Raised([&] { db.QueryInt("  "); }).second,
              "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");

    // Execute carries SQLite's text; a statement that fails to compile carries none.
    const auto viaExecute = Raised([&] { db.Execute("selec 1"); });
    EXPECT_EQ(viaExecute.first, 1);
    EXPECT_EQ(viaExecute.second.rfind("SQLITE_ERROR[1]: ", 0), 0u);
    EXPECT_GT(viaExecute.second.size(), std::string("SQLITE_ERROR[1]: ").size());
    EXPECT_EQ(Raised([&] { db.Query("selec 1"); }).second, "SQLITE_ERROR[1]: ");
    // A constraint failure surfaces when the statement runs.
    db.Execute("create unique index ta on t(a)");
    EXPECT_EQ(Raised([&] { db.Execute("insert into t values(1, 'y')"); }).first, 19);

    CppSQLite3Query query = db.Query("select b from t order by a");
    EXPECT_FALSE(query.Eof());
    EXPECT_STREQ(query.FirstColumnText(), "x");
    CppSQLite3Query empty = db.Query("select b from t where a > 5");
    EXPECT_TRUE(empty.Eof());
    EXPECT_EQ(empty.FirstColumnText(), nullptr);
}

TEST(CppSQLite3Table, ReadsByNameChecksIndexesAndMovesOwnership) {
    ScratchDir dir;
    CppSQLite3DB db;
    db.Open(dir.Utf8Path("log.db").c_str());
    db.Execute(
        "create table t(a INT, b TEXT); insert into t values(1, 'x'); "
        "insert into t values(2, NULL);");
    CppSQLite3Table table = db.QueryTable("select a, b from t order by a");
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_STREQ(table.ValueByName("b"), "x");
    table.SelectRow(1);
    EXPECT_STREQ(table.ValueByName("a"), "2");
    EXPECT_EQ(table.ValueByName("b"), nullptr);
    EXPECT_EQ(Raised([&] { table.ValueByName("c"); }).second,
              "CPPSQLITE_ERROR[1000]: Invalid field name requested");
    EXPECT_EQ(Raised([&] { table.ValueByName(nullptr); }).first, 1000);
    EXPECT_EQ(Raised([&] { table.SelectRow(2); }).second,
              "CPPSQLITE_ERROR[1000]: Invalid row index requested");
    EXPECT_EQ(Raised([&] { table.SelectRow(-1); }).first, 1000);

    CppSQLite3Table moved;
    moved = std::move(table);
    EXPECT_STREQ(moved.ValueByName("a"), "2");  // the current row travels along
    EXPECT_EQ(Raised([&] { table.RowCount(); }).second,
              "CPPSQLITE_ERROR[1000]: Null Results pointer");

    // No matching row is an empty table, not a missing one.
    EXPECT_EQ(db.QueryTable("select a from t where a > 5").RowCount(), 0);
}

TEST(CppSQLite3DB, LockedDatabaseFailsBusyAfterTheTimeout) {
    ScratchDir dir;
    const std::string path = dir.Utf8Path("log.db");
    CppSQLite3DB db;
    db.SetBusyTimeout(20);
    db.Open(path.c_str());
    db.Execute("create table t(a INT)");
    RawDb other(path);
    ASSERT_EQ(other.Exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    const auto busy = Raised([&] { db.Execute("insert into t values(1)"); });
    EXPECT_EQ(busy.first, 5);
    EXPECT_EQ(busy.second, "SQLITE_BUSY[5]: database is locked");
    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
    EXPECT_EQ(db.Execute("insert into t values(1)"), 1);
}

TEST(CppSQLite3DB, OutOfMemoryIsReportedAsCodeSeven) {
    ScratchDir dir;
    logtest::SqliteAllocFailure failure;
    CppSQLite3DB db;
    db.Open(dir.Utf8Path("log.db").c_str());
    db.Execute("create table t(a INT)");
    failure.Fail(true);
    const auto execute = Raised([&] { db.Execute("insert into t values(1)"); });
    const auto table = Raised([&] { db.QueryTable("select * from t"); });
    failure.Fail(false);
    EXPECT_EQ(execute.first, 7);
    EXPECT_EQ(table.first, 7);
    EXPECT_EQ(db.QueryInt("select count(*) from t"), 0);
    db.Close();  // before the allocator is put back
}

}  // namespace
}  // namespace Ovra
