// A writer process killed at random points, between and inside its single inserts and batches,
// with the rollback journal and with the write-ahead log: after each kill the file reopens, reads
// consistently, holds every record the writer reported as written and no part of a batch.
#include "tests/hardening/LogRecords.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace Ovra {
namespace hardening {
namespace {

const int kRounds = 16;

TEST(ProcessDeath, AcknowledgedRecordsSurviveKillsAtRandomPoints) {
    testing_support::ScratchDir dir;
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::set<long long> acknowledged[2];
    for (int round = 0; round < kRounds; ++round) {
        const int wal = round % 2;  // one file each
        const std::string path = dir.Path(wal ? "wal.db" : "journal.db").string();
        testing_support::ChildProcess child;
        ASSERT_TRUE(
            child.Start(testing_support::HelperProgram("ovra_log_child"),
                        {path, std::to_string(1000000LL * (round + 1)), wal ? "wal" : "delete"}));
        std::string line;
        ASSERT_TRUE(child.ReadLine(line));
        ASSERT_EQ(line, "ready");
        const int killAfter = std::uniform_int_distribution<int>(1, 300)(random);
        for (int read = 0; read < killAfter && child.ReadLine(line); ++read) {
            ASSERT_EQ(line.back(), ';') << line;
            acknowledged[wal].insert(std::atoll(line.c_str()));
        }
        child.Kill();
        // What the writer printed before it died was acknowledged too; "<number>;" is complete.
        while (child.ReadLine(line)) {
            if (!line.empty() && line.back() == ';')
                acknowledged[wal].insert(std::atoll(line.c_str()));
        }
        child.Wait();

#if !defined(_WIN32)
        EXPECT_EQ(IntegrityCheck(path), "ok") << "round " << round;
#endif
        LogService log;
        ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        Rows rows, partial;
        ASSERT_EQ(log.Search(L"", rows), 0);
        ASSERT_EQ(log.Search(L"group by Batch having count(*) <> 1 + Batch % 5", partial), 0);
        EXPECT_TRUE(partial.empty()) << "round " << round;
        EXPECT_EQ(log.IsBrokenLogFile(), 0);
        size_t duplicates = 0;
        const std::set<long long> present = SequenceNumbers(rows, duplicates);
        EXPECT_EQ(duplicates, 0u);
        size_t missing = 0;
        for (long long seq : acknowledged[wal]) missing += present.count(seq) ? 0 : 1;
        EXPECT_EQ(missing, 0u) << "round " << round;
        // Besides, at most the insert in flight at each kill was written.
        EXPECT_LE(present.size(), acknowledged[wal].size() + 5u * (round / 2 + 1));
    }
    std::printf("process death: %d kills, %zu + %zu acknowledged records\n", kRounds,
                acknowledged[0].size(), acknowledged[1].size());
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra
