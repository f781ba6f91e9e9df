// The real ovractl, run as a user runs it: output and exit codes, bad input included.
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <string>
#include <vector>

namespace Ovra {
namespace {

struct Step {
    std::vector<std::string> args;
    int exit = 0;
    // In the output, which starts with a newline and ends each line with one.
    const char* shows = "";
};

void RunInTurn(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        testing_support::ChildProcess child;
        ASSERT_TRUE(child.Start(testing_support::HelperProgram("ovractl"), step.args));
        child.CloseInput();  // a confirmation prompt reads end of input: no
        std::string out = "\n";
        for (std::string line; child.ReadLine(line);) out += line + "\n";
        EXPECT_EQ(step.exit, child.Wait()) << step.args[1];
        EXPECT_NE(std::string::npos, out.find(step.shows)) << step.args[1] << out;
    }
}

TEST(OvractlTest, CommandsInTurn) {
    testing_support::ScratchDir scratch("ovractl-test");
    const std::string db = scratch.Utf8Path("events.db"), lines = scratch.Utf8Path("events.jsonl");
    std::ofstream(scratch.Path("events.jsonl"), std::ios::binary)
        << "{\"time\":1700000000000,\"Camera\":3,\"Msg\":\"it's\"}\n"
        << "{\"Camera\":\"x\",\"Msg\":\"bad value\"}\nnot json\n"
        << "{\"Camera\":4}\n"  // refused by the database: Msg is not null
        << "{\"time\":1700000000001,\"Camera\":5,\"Msg\":\"ok\"}\n";
    RunInTurn({
        {{"log", "create", db, "Camera:int32", "Msg:text:notnull", "Level:uint8"}},
            {{"log", "insert", db, "--time", "1700000000000", "Camera=3", "Msg=disk full, 100%",
              "Level=200"}},
            {{"log", "search", db, "--json", "--like", "Msg=100%"},
             0,
             "\n{\"Camera\":3,\"Level\":-56,\"Msg\":\"disk full, 100%\",\"Time\":1700000000000}\n"},
            {{"log", "info", db}, 0, "Level   TINYINT"},  // unsigned columns read back signed
            {{"log", "import", db, lines, "--batch", "2"}, 0, "imported 2 records"},
            {{"log", "search", db, "--eq", "Camera=5"}, 0, "1 record(s)"},
            {{"log", "search", db, "--between", "Camera=4..9"}, 0, "1 record(s)"},
            {{"log", "count", db, "--where", "where Camera >= 3"}, 0, "\n3\n"},
            {{"log", "retention", db, "--minutes", "0", "--run", "--batch-size", "1", "--reclaim"},
             0,
             "pass deleted 3, 0 remain"},
            {{"log", "insert", db, "Nope=1"}, 65},        // unknown column
            {{"log", "insert", db, "Camera=three"}, 65},  // malformed value
            {{"log", "insert", db, "Camera=1"}, 1},       // not null broken
            {{"log", "search", db, "--where", "where Camera =="}, 1},
            {{"log", "count", scratch.Utf8Path("absent.db")}, 66}, {{"log", "frobnicate"}, 64},
            {{"label", "Q:\\", "x"}, 121},             // a root that does not exist
            {{"format", "Q:\\", "--fs", "NTFS"}, 75},  // not confirmed
            {{"format", "Q:\\", "--fs", "exFAT", "--yes"}, 65},
            {{"demo", "--records", "300"}, 0, "inserted 300 events"},
#if defined(_WIN32)
            {{"volumes", "--json"}, 0, "\"root\":\"C:\\\\\""}, {{"disks"}, 0, "Disk0"},
#endif
    });
}

TEST(OvractlTest, DiskWatchAndSelfTests) {
    testing_support::ScratchDir scratch("ovractl-watch");
    const std::string db = scratch.Utf8Path("health.db"), hook = scratch.Utf8Path("hook.txt");
#if defined(_WIN32)
    const std::string exec = "set OVRA_> \"" + hook + "\"& find \"{\" >> \"" + hook + "\"";
#else
    const std::string exec = "env | grep ^OVRA_ > '" + hook + "'; cat >> '" + hook + "'";
#endif
    RunInTurn({
        {{"watch", "--test-event", "--log", db, "--exec", exec}},
        {{"health", "history", db}, 0, "\n0 reading(s)"},  // an event is no reading
        {{"health", "history", db, "--events", "--disk", "0"}, 0, "\n0 event(s)"},
        {{"health", "history", db, "--events"}, 0, "\n1 event(s)"},
        {{"watch", "0", "--cycles", "1", "--log", db}},
        {{"health", "history", db, "--disk", "0", "--id", "0"}, 0, "\n1 reading(s)"},
        {{"watch", "--selftest", "(S/", "--test-event"}, 141},
        {{"selftest", "31", "--short", "--wait"}, 121},  // no such disk
        {{"selftest", "31", "--abort"}, 121},
        {{"selftest", "0", "--short", "--abort"}, 64},
    });
    // The hook saw the event in its environment and, as JSON, on its input.
    std::string environment = "\n", event;
    std::ifstream in(scratch.Path("hook.txt"));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        (line.rfind("{", 0) == 0 ? event : environment) += line + "\n";
    }
    nlohmann::json json = nlohmann::json::parse(event, nullptr, false);
    ASSERT_TRUE(json.is_object()) << event;
    for (const std::string& variable :
         {"EVENT=" + json["event"].get<std::string>(), "DISK=" + json["disk"].dump(),
          "TIME=" + json["time"].dump()})
        EXPECT_NE(std::string::npos, environment.find("\nOVRA_" + variable + "\n")) << environment;
}

}  // namespace
}  // namespace Ovra
