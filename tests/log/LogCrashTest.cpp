#include "LogTestSupport.h"

#include "tests/support/ChildProcess.h"

#include <Ovra/Bases/StringConv.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace Ovra {
namespace {

using logtest::MakeField;
using logtest::RawDb;
using logtest::ScratchDir;
using testing_support::ChildProcess;
using testing_support::HelperProgram;

const unsigned long long kBatchRecords = 200;  // as the child writes them

// Starts the child on `path`, reads acknowledgements up to a random count, and kills it while it
// is writing the next batch. Returns the acknowledged batch ids.
std::vector<int> AcknowledgedBeforeKill(const std::string& path, int firstBatch,
                                        std::mt19937& random) {
    const int wanted = std::uniform_int_distribution<int>(1, 25)(random);
    ChildProcess child;
    EXPECT_TRUE(
        child.Start(HelperProgram("ovra_log_batch_child"), {path, std::to_string(firstBatch)}));
    std::vector<int> acknowledged;
    std::string line;
    while (static_cast<int>(acknowledged.size()) < wanted && child.ReadLine(line)) {
        acknowledged.push_back(std::stoi(line));
    }
    child.Kill();
    child.Wait();
    EXPECT_EQ(static_cast<int>(acknowledged.size()), wanted);
    return acknowledged;
}

// A killed writer loses nothing it acknowledged and leaves no part of a batch, with the rollback
// journal and with the write-ahead log; each file survives two kills.
TEST(LogCrash, AcknowledgedBatchesSurviveAKilledWriter) {
    std::mt19937 random(std::random_device{}());
    for (const int writeAhead : {0, 1}) {
        ScratchDir dir;
        const std::wstring path = dir.WidePath("log.db");
        {
            LogService setup;
            ASSERT_EQ(setup.Open(path), 0);
            ASSERT_EQ(setup.Create({MakeField(L"Batch", LogVariant::Int32),
                                    MakeField(L"Msg", LogVariant::Text)}),
                      0);
            ASSERT_EQ(setup.EnableWriteAheadLog(writeAhead), 0);
        }
        std::vector<int> acknowledged;
        for (const int firstBatch : {1, 1000}) {
            const std::vector<int> more =
                AcknowledgedBeforeKill(tcs_to_mbs(path), firstBatch, random);
            acknowledged.insert(acknowledged.end(), more.begin(), more.end());
        }

        RawDb raw(tcs_to_utf8(path));
        EXPECT_EQ(raw.Scalar("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(raw.Scalar("PRAGMA journal_mode"), writeAhead ? "wal" : "delete");
        EXPECT_EQ(raw.Scalar("select count(*) from (select Batch from Ovra_Log group by Batch "
                             "having count(*) <> 200)"),
                  "0");
        LogService reopened;
        ASSERT_EQ(reopened.Open(path), 0);
        for (const int batch : acknowledged) {
            unsigned long long count = 0;
            ASSERT_EQ(reopened.GetRecordCount(L"where Batch = " + std::to_wstring(batch), count),
                      0);
            EXPECT_EQ(count, kBatchRecords) << "batch " << batch << ", write-ahead " << writeAhead;
        }
    }
}

}  // namespace
}  // namespace Ovra
