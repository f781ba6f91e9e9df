// The real ovractl, run as a user runs it: output and exit codes, bad input included.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace Ovra {
namespace {

using testing_support::ChildProcess;
using testing_support::HelperProgram;

struct Outcome {
    int exit = -1;
    std::vector<std::string> lines;
    bool Has(const std::string& text) const {
        for (const auto& line : lines) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
};

Outcome Ovractl(const std::vector<std::string>& args) {
    Outcome run;
    ChildProcess child;
    if (!child.Start(HelperProgram("ovractl"), args)) return run;
    child.CloseInput();  // a confirmation prompt reads end of input: no
    std::string line;
    while (child.ReadLine(line)) run.lines.push_back(line);
    run.exit = child.Wait();
    return run;
}

class OvractlTest : public ::testing::Test {
protected:
    testing_support::ScratchDir scratch{"ovractl-test"};
    const std::filesystem::path folder = scratch.Folder();
    const std::string database = scratch.Utf8Path("events.db");
};

TEST_F(OvractlTest, LogRoundTripThroughTheCommandLine) {
    ASSERT_EQ(
        Ovractl({"log", "create", database, "Camera:int32", "Msg:text:notnull", "Level:uint8"})
            .exit,
        0);
    ASSERT_EQ(Ovractl({"log", "index", database}).exit, 0);
    ASSERT_EQ(Ovractl({"log", "insert", database, "--time", "1700000000000", "Camera=3",
                       "Msg=disk full, 100%", "Level=200"})
                  .exit,
              0);
    ASSERT_EQ(Ovractl({"log", "insert", database, "Camera=4", "Msg=motion"}).exit, 0);

    const Outcome json = Ovractl({"log", "search", database, "--json", "--like", "Msg=100%"});
    EXPECT_EQ(json.exit, 0);
    ASSERT_EQ(json.lines.size(), 1u);
    EXPECT_EQ(json.lines[0],
              "{\"Camera\":3,\"Level\":-56,\"Msg\":\"disk full, 100%\",\"Time\":1700000000000}");

    const Outcome table = Ovractl({"log", "search", database, "--eq", "Camera=4"});
    EXPECT_EQ(table.exit, 0);
    EXPECT_TRUE(table.Has("motion"));
    EXPECT_TRUE(table.Has("1 record(s)"));

    const Outcome count = Ovractl({"log", "count", database, "--where", "where Camera >= 3"});
    EXPECT_EQ(count.exit, 0);
    ASSERT_FALSE(count.lines.empty());
    EXPECT_EQ(count.lines[0], "2");

    const Outcome info = Ovractl({"log", "info", database});
    EXPECT_TRUE(info.Has("Level   TINYINT"));  // unsigned columns read back signed
}

TEST_F(OvractlTest, BadInputGivesOneClearCode) {
    ASSERT_EQ(Ovractl({"log", "create", database, "Camera:int32", "Msg:text:notnull"}).exit, 0);
    EXPECT_EQ(Ovractl({"log", "insert", database, "Nope=1"}).exit, 65);        // unknown column
    EXPECT_EQ(Ovractl({"log", "insert", database, "Camera=three"}).exit, 65);  // malformed value
    EXPECT_EQ(Ovractl({"log", "insert", database, "Camera=1"}).exit, 1);       // not null broken
    EXPECT_EQ(Ovractl({"log", "create", database, "X:nosuchtype"}).exit, 65);
    EXPECT_EQ(Ovractl({"log", "search", database, "--where", "where Camera =="}).exit, 1);
    const std::string missing = (folder / "no-such-folder" / "x.db").string();
    EXPECT_EQ(Ovractl({"log", "count", missing}).exit, 66);
    EXPECT_EQ(Ovractl({"log", "count", (folder / "absent.db").string()}).exit, 66);
    EXPECT_EQ(Ovractl({"log", "frobnicate"}).exit, 64);
    EXPECT_EQ(Ovractl({"label", "Q:\\", "x"}).exit, 121);             // a root that does not exist
    EXPECT_EQ(Ovractl({"format", "Q:\\", "--fs", "NTFS"}).exit, 75);  // not confirmed
    EXPECT_EQ(Ovractl({"format", "Q:\\", "--fs", "exFAT", "--yes"}).exit, 65);
    for (const char* command :
         {"log", "disks", "volumes", "smart", "fs", "format", "label", "time", "demo"}) {
        EXPECT_EQ(Ovractl({command, "--help"}).exit, 0) << command;
    }
}

TEST_F(OvractlTest, ImportStoresGoodLinesAndReportsBadOnes) {
    ASSERT_EQ(Ovractl({"log", "create", database, "Camera:int32", "Msg:text:notnull"}).exit, 0);
    const std::string file = scratch.Utf8Path("events.jsonl");
    {
        std::ofstream out(scratch.Path("events.jsonl"), std::ios::binary);
        out << "{\"time\":1700000000000,\"Camera\":3,\"Msg\":\"it's\"}\n"
            << "{\"Camera\":\"x\",\"Msg\":\"bad value\"}\n"
            << "not json\n"
            << "{\"Camera\":4}\n"  // refused by the database: Msg is not null
            << "{\"time\":1700000000001,\"Camera\":5,\"Msg\":\"ok\"}\n";
    }
    const Outcome import = Ovractl({"log", "import", database, file, "--batch", "2"});
    EXPECT_EQ(import.exit, 0);
    EXPECT_TRUE(import.Has("imported 2 records")) << (import.lines.empty() ? "" : import.lines[0]);
    EXPECT_TRUE(import.Has("3 line(s) skipped"));
    const Outcome count = Ovractl({"log", "count", database});
    ASSERT_FALSE(count.lines.empty());
    EXPECT_EQ(count.lines[0], "2");
    EXPECT_EQ(Ovractl({"log", "import", database, scratch.Utf8Path("absent.jsonl")}).exit, 66);
    const Outcome retention = Ovractl({"log", "retention", database, "--minutes", "0", "--run",
                                       "--batch-size", "1", "--reclaim"});
    EXPECT_EQ(retention.exit, 0);
    EXPECT_TRUE(retention.Has("pass deleted 2, 0 remain"));
}

TEST_F(OvractlTest, DemoRunsWithoutSetup) {
    const Outcome demo = Ovractl({"demo", "--records", "300"});
    EXPECT_EQ(demo.exit, 0);
    EXPECT_TRUE(demo.Has("inserted 300 events"));
    EXPECT_TRUE(demo.Has("retention pass"));
    EXPECT_TRUE(demo.Has("== Volumes"));
#if defined(_WIN32)
    EXPECT_TRUE(demo.Has("C:\\"));
#else
    // The mounted block devices, or none where the root is no block device (a container).
    EXPECT_TRUE(demo.Has("file system") || demo.Has("no volume answered"));
#endif
}

#if defined(_WIN32)
TEST_F(OvractlTest, InventoriesShowWhatWindowsReports) {
    const Outcome volumes = Ovractl({"volumes", "--json"});
    EXPECT_EQ(volumes.exit, 0);
    EXPECT_TRUE(volumes.Has("\"root\":\"C:\\\\\""));
    const Outcome disks = Ovractl({"disks"});
    EXPECT_EQ(disks.exit, 0);
    EXPECT_TRUE(disks.Has("Disk0"));
}
#endif

}  // namespace
}  // namespace Ovra
