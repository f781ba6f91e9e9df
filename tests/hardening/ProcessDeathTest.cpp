// A writer process killed at random points, between and inside its single inserts and batches,
// with the rollback journal and with the write-ahead log: after each kill the file reopens sound,
// holds every record the writer reported as written and no part of a batch.
#include "tests/hardening/LogRecords.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace Ovra::hardening {
namespace {

TEST(ProcessDeath, AcknowledgedRecordsSurviveKillsAtRandomPoints) {
    testing_support::ScratchDir dir;
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::set<long long> acknowledged[2];
    for (int round = 0; round < 16; ++round) {
        const int wal = round % 2;  // one file each
        const std::string path = dir.Path(wal ? "wal.db" : "journal.db").string();
        testing_support::ChildProcess child;
        ASSERT_TRUE(
            child.Start(testing_support::HelperProgram("ovra_log_child"),
                        {path, std::to_string(1000000LL * (round + 1)), wal ? "wal" : "delete"}));
        std::string line;
        ASSERT_TRUE(child.ReadLine(line) && line == "ready") << line;
        // Up to the kill every line reports a written record; what the writer printed before it
        // died was acknowledged too, where the line "<number>;" is complete.
        const int killAt = std::uniform_int_distribution<int>(1, 300)(random);
        for (int read = 1; child.ReadLine(line); ++read) {
            if (read == killAt) child.Kill();
            EXPECT_TRUE(read > killAt || line.back() == ';') << line;
            if (!line.empty() && line.back() == ';')
                acknowledged[wal].insert(std::atoll(line.c_str()));
        }
        child.Wait();
        size_t present = 0;
        EXPECT_EQ(Damage(path, acknowledged[wal], present), "") << "round " << round;
        // Besides, at most the insert in flight at each kill was written.
        EXPECT_LE(present, acknowledged[wal].size() + 5u * (round / 2 + 1));
    }
}

}  // namespace
}  // namespace Ovra::hardening
