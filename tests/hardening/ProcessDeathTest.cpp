// A writer process killed at random points loses no record it acknowledged: after each kill the
// file reopens, reads consistently and holds every record the writer reported as written.
#include "LogRecordShape.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#if defined(OVRA_HARDENING_RAW_SQLITE)
#include "IntegrityCheck.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace Ovra {
namespace hardening {
namespace {

const int kRounds = 16;
const int kMaxLinesBeforeKill = 300;

// "<number>;" of a complete acknowledgement; false for anything else.
bool ParseAcknowledgement(const std::string& line, long long& seq) {
    if (line.size() < 2 || line.back() != ';') return false;
    seq = std::atoll(line.c_str());
    return seq > 0;
}

TEST(ProcessDeath, AcknowledgedRecordsSurviveKillsAtRandomPoints) {
    testing_support::ScratchDir dir;
    const std::string path = dir.Path("log.db").string();
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> linesBeforeKill(1, kMaxLinesBeforeKill);
    SCOPED_TRACE("seed " + std::to_string(seed));

    std::set<long long> acknowledged;
    size_t found = 0;
    size_t unacknowledged = 0;
    int journalsLeft = 0;
    for (int round = 0; round < kRounds; ++round) {
        testing_support::ChildProcess child;
        const long long first = 1000000LL * (round + 1);
        ASSERT_TRUE(child.Start(testing_support::HelperProgram("ovra_log_child"),
                                {path, std::to_string(first)}));
        std::string line;
        ASSERT_TRUE(child.ReadLine(line));
        ASSERT_EQ(line, "ready");
        const int killAfter = linesBeforeKill(random);
        long long seq = 0;
        for (int read = 0; read < killAfter && child.ReadLine(line); ++read) {
            ASSERT_TRUE(ParseAcknowledgement(line, seq)) << line;
            acknowledged.insert(seq);
        }
        child.Kill();
        // What the writer printed before it died was acknowledged too.
        while (child.ReadLine(line)) {
            if (ParseAcknowledgement(line, seq)) acknowledged.insert(seq);
        }
        child.Wait();
        // A kill inside a transaction leaves its rollback journal for the next opener.
        if (std::filesystem::exists(path + "-journal")) ++journalsLeft;

#if defined(OVRA_HARDENING_RAW_SQLITE)
        EXPECT_EQ(IntegrityCheck(path), "ok") << "round " << round;
#endif
        LogService log;
        ASSERT_EQ(log.Open(std::filesystem::path(path).wstring()), 0);
        std::list<std::list<LogService::FieldData>> rows;
        ASSERT_EQ(log.Search(L"", rows), 0);
        unsigned long long count = 0;
        ASSERT_EQ(log.GetRecordCount(L"", count), 0);
        EXPECT_EQ(count, rows.size()) << "round " << round;
        EXPECT_EQ(log.IsBrokenLogFile(), 0);
        size_t duplicates = 0;
        const std::set<long long> present = SequenceNumbers(rows, &duplicates);
        EXPECT_EQ(duplicates, 0u);
        size_t missing = 0;
        for (long long ack : acknowledged) missing += present.count(ack) ? 0 : 1;
        EXPECT_EQ(missing, 0u) << "round " << round;
        // At most the insert in flight at each kill was written without being acknowledged.
        EXPECT_LE(present.size(), acknowledged.size() + static_cast<size_t>(round) + 1);
        found = acknowledged.size() - missing;
        unacknowledged = present.size() - found;
    }
    std::printf(
        "process death: %d kills (%d inside a transaction), acknowledged %zu, found %zu "
        "(and %zu written while being killed)\n",
        kRounds, journalsLeft, acknowledged.size(), found, unacknowledged);
    EXPECT_EQ(found, acknowledged.size());
}

}  // namespace
}  // namespace hardening
}  // namespace Ovra
