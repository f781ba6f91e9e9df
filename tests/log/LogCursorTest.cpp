// Cursors across inserts, batches, restarts, retention and rowid reuse; the full-text index
// against LIKE, before and after retention, and the queries it refuses.
#include "tests/log/LogTestSupport.h"

#include "tests/fakes/FakePlatform.h"

#include <Ovra/LogCursor.h>

#include <gtest/gtest.h>

namespace Ovra {
namespace {

using namespace logtest;
using Ms = std::vector<long long>;

const long long kNow = 1700003600000LL;

struct Reader : LogCursorVisitor {
    int OnLogRecord(const std::wstring& next,
                    const std::list<LogService::FieldData>& record) override {
        for (const auto& field : record)
            if (field.name == L"Time") times.push_back(field.value);
        cursor = next;
        return 0;
    }
    Ms times;
    std::wstring cursor;
};

class LogCursorTest : public testing::Test {
protected:
    LogCursorTest() : scope(fake) { fake.SetTime(kNow); }
    void Open() {
        ASSERT_EQ(service.Open(dir.WidePath("log.db")), 0);
        if (service.ExistTable()) return;
        ASSERT_EQ(service.Create({{L"Msg", T::Text}, {L"Note", T::Text}, {L"N", T::Int32}}), 0);
    }
    // The times after `cursor`, which moves on; {result} when the read fails.
    Ms After(std::wstring& cursor, size_t limit = 0) {
        Reader reader;
        reader.cursor = cursor;
        const int rc = service.ReadAfter(cursor, limit, reader);
        cursor = reader.cursor;
        return rc ? Ms{rc} : reader.times;
    }
    void Insert(const Ms& times, const wchar_t* msg = L"m") {
        for (long long t : times) ASSERT_EQ(service.Insert(t, {{L"Msg", T(msg)}}), 0);
    }
    ScratchDir dir;
    fakes::FakePlatform fake;
    platform::ScopedPlatform scope;
    TestableLogService service;
};

TEST_F(LogCursorTest, EachRecordOnceInInsertionOrderUntilTheRowidIsReused) {
    Open();
    std::wstring start, end;
    ASSERT_EQ(service.GetCursorAtEnd(end), 0);
    EXPECT_EQ(end, L"ovra1:0:0");
    Insert({20, 10});
    ASSERT_EQ(service.Insert({{30, {{L"N", T(1)}}}, {40, {{L"N", T(2)}}}, {50, {{L"N", T(3)}}}}),
              0);
    EXPECT_EQ(After(start, 1), Ms{20});
    const std::wstring first = start;
    EXPECT_EQ(After(start, 2), (Ms{10, 30}));
    service.Close();  // resumed by another connection
    Open();
    EXPECT_EQ(After(start), (Ms{40, 50}));
    EXPECT_EQ(After(start), Ms{});
    EXPECT_EQ(After(end), (Ms{20, 10, 30, 40, 50}));
    // Retention takes the cursor's own record: what follows it is still read, once.
    Insert({kNow});
    service.SetRetentionTime(0);
    ASSERT_EQ(RawQuery(dir.Utf8Path("log.db"), "delete from Ovra_Log where Time <= 30"), "<none>");
    std::wstring afterFirst = first;
    EXPECT_EQ(After(afterFirst), (Ms{40, 50, kNow}));
    // Emptied: rowids start again at 1, and a cursor past the new ones, or on one of them, is lost.
    fake.SetTime(kNow + 1);
    service.DeleteOldRecord();
    Insert({kNow + 1});
    EXPECT_EQ(After(start), Ms{121});
    Insert({kNow + 2, kNow + 3, kNow + 4, kNow + 5});
    EXPECT_EQ(After(end), Ms{121});
    std::wstring restart;
    EXPECT_EQ(After(restart), (Ms{kNow + 1, kNow + 2, kNow + 3, kNow + 4, kNow + 5}));
    for (std::wstring cursor : {L"x", L"ovra1:", L"ovra1:1", L"ovra1:-1:0", L"ovra2:1:1",
                                L"ovra1:1:1x", L"ovra1:99999999999999999999:0"})
        EXPECT_EQ(After(cursor), Ms{141}) << cursor;
}

TEST_F(LogCursorTest, TextIndexAgreesWithLikeAndRefusesBadQueries) {
    Open();
    Collector found;
    EXPECT_EQ(service.SearchText(L"alarm", found), 122);
    Insert({kNow - 7200000, kNow}, L"door alarm raised");
    Insert({kNow - 7200000, kNow}, L"all quiet");
    const std::vector<std::list<std::wstring>> refused = {{}, {L"N"}, {L"Nope"}, {L"Msg", L"Msg"}};
    for (const auto& columns : refused) EXPECT_NE(service.CreateTextIndex(columns), 0);
    ASSERT_EQ(service.CreateTextIndex({L"Msg", L"Note"}), 0);
    EXPECT_EQ(service.CreateTextIndex({L"Msg"}), 116);
    Insert({kNow, kNow - 7200000}, L"Alarm at the gate");
    ASSERT_EQ(service.Insert({{kNow, {{L"Note", T(L"alarm; door")}}}, {kNow, {{L"N", T(1)}}}}), 0);
    const std::pair<const wchar_t*, const wchar_t*> pairs[] = {
        {L"alarm", L"where Msg like '%alarm%' or Note like '%alarm%' order by rowid"},
        {L"\"door alarm\"", L"where Msg like '%door alarm%'"}};
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [query, like] : pairs) {
            Rows expected;
            ASSERT_EQ(service.Search(like, expected), 0);
            found.rows.clear();
            unsigned long long count = 0;
            EXPECT_EQ(service.SearchText(query, found) + service.GetTextCount(query, count), 0);
            EXPECT_EQ(Describe(found.rows), Describe(expected)) << query << pass;
            EXPECT_EQ(count, expected.size()) << query << pass;
        }
        service.DeleteOldRecord();  // retention, in the same transaction as the index's deletes
    }
    const Ms before = Times(service);
    for (const wchar_t* bad :
         {L"\"unterminated", L"AND", L"Nope: x", L"x'); drop table Ovra_Log; --"}) {
        unsigned long long count = 7;
        EXPECT_EQ(service.SearchText(bad, found), 141) << bad;
        EXPECT_EQ(service.GetTextCount(bad, count), 141) << bad;
    }
    EXPECT_EQ(Times(service), before);
    EXPECT_EQ(RawQuery(dir.Utf8Path("log.db"), "select count(*) from Ovra_LogText('alarm')"), "3");
}

}  // namespace
}  // namespace Ovra
