// ovractl's streaming log commands, run as a user runs them: export and import give back every
// typed value exactly, tail --follow prints what another process inserts, and forward delivers
// every record to a real rsyslogd at least once across its restart.
#include "tests/log/LogTestSupport.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <thread>

#if !defined(_WIN32)
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Ovra {
namespace {

using namespace logtest;
using testing_support::ChildProcess;
using testing_support::HelperProgram;
using Lines = std::vector<std::string>;

// Runs ovractl to its end: its exit code, and its output in `out`, a newline after each line.
int Ovractl(const Lines& args, std::string& out) {
    ChildProcess child;
    if (!child.Start(HelperProgram("ovractl"), args)) return -1;
    child.CloseInput();
    for (std::string line; child.ReadLine(line);) out += line + '\n';
    return child.Wait();
}

// The extremes of every type. JSON reals are the shortest text that reads back to the same bits,
// and unsigned columns come back as their signed twins: the export is the imported text itself.
const char kRecords[] = R"({"D":-2.5e-07,"S":"","Time":-1,"U16":-1,"U32":-1,"U8":-1}
{"I16":-32768,"I32":-2147483648,"I64":-9223372036854775808,"I8":-128,"Time":0}
{"D":1.7976931348623157e+308,"F":-3.3999999521443642e+38,"I64":9223372036854775807,"Time":1}
{"D":0.3333333333333333,"F":0.10000000149011612,"S":"it's \"q\" \\ ]\n\ttab ü€😀","Time":2}
)";

TEST(LogToolTest, ImportThenExportGivesBackEveryValueAndTailFollowsInserts) {
    ScratchDir dir;
    const std::list<LogService::Field> types = {
        {L"I8", T::Int8},   {L"U8", T::UInt8},   {L"I16", T::Int16}, {L"U16", T::UInt16},
        {L"I32", T::Int32}, {L"U32", T::UInt32}, {L"I64", T::Int64}, {L"F", T::Float},
        {L"D", T::Double},  {L"S", T::Text}};
    const std::string db = dir.Utf8Path("log.db");
    LogService log;
    ASSERT_EQ(log.Open(dir.WidePath("log.db")) + log.Create(types), 0);
    std::ofstream(dir.Path("lines.jsonl"), std::ios::binary) << kRecords;
    std::string ignored, exported;
    ASSERT_EQ(Ovractl({"log", "import", db, dir.Utf8Path("lines.jsonl")}, ignored), 0);
    ASSERT_EQ(Ovractl({"log", "export", db}, exported), 0);
    EXPECT_EQ(exported, kRecords);

    std::wstring end;
    ASSERT_EQ(log.GetCursorAtEnd(end), 0);
    ChildProcess tail;
    ASSERT_TRUE(tail.Start(HelperProgram("ovractl"),
                           {"log", "tail", db, "--follow", "--json", "--after", tcs_to_utf8(end)}));
    ASSERT_EQ(log.Insert(99, {{L"S", T(L"late")}}), 0);
    std::string line;
    ASSERT_TRUE(tail.ReadLine(line));
    EXPECT_EQ(line, "{\"S\":\"late\",\"Time\":99,\"cursor\":\"ovra1:5:99\"}");
}

#if !defined(_WIN32)
const char kRsyslogd[] = "/usr/sbin/rsyslogd";

// Every distinct Seq of the lines of out.log, polled (rsyslogd is another program: nothing else
// tells when it wrote) until there are `count`, for at most a minute.
std::set<int> AwaitSequences(const ScratchDir& dir, Lines& lines, std::size_t count) {
    static const std::regex seq("Seq=\"([0-9]+)\"");
    std::set<int> found;
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (found.size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        lines.clear();
        std::ifstream in(dir.Path("out.log"));
        std::smatch match;
        for (std::string line; std::getline(in, line); lines.push_back(line))
            if (std::regex_search(line, match, seq)) found.insert(std::stoi(match[1]));
    }
    return found;
}

TEST(LogToolTest, ForwardDeliversEveryRecordAcrossAServerRestart) {
    if (::access(kRsyslogd, X_OK) != 0)
        GTEST_SKIP() << "rsyslogd is not installed (Debian package rsyslog): forwarding untested";
    ScratchDir dir;
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), size), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    const std::string port = std::to_string(ntohs(address.sin_port));
    std::ofstream(dir.Path("rsyslog.conf"))
        << "global(workDirectory=\"" << dir.Folder().string() << "\")\nmodule(load=\"imtcp\")\n"
        << "input(type=\"imtcp\" port=\"" << port << "\" address=\"127.0.0.1\")\n*.* action("
        << "type=\"omfile\" file=\"" << dir.Utf8Path("out.log")
        << "\" template=\"RSYSLOG_SyslogProtocol23Format\")\n";
    auto server = std::make_unique<ChildProcess>();
    const Lines serverArgs = {"-n", "-f", dir.Utf8Path("rsyslog.conf"), "-i", dir.Utf8Path("pid")};
    ASSERT_TRUE(server->Start(kRsyslogd, serverArgs));

    const int kHalf = 2000;
    LogService log;
    ASSERT_EQ(
        log.Open(dir.WidePath("log.db")) + log.Create({{L"Seq", T::Int32}, {L"Msg", T::Text}}), 0);
    auto insertHalf = [&](int from) {
        std::list<LogService::Record> records;
        for (int i = from; i < from + kHalf; ++i)
            records.push_back(
                {1700000000000LL + i, {{L"Seq", T(i)}, {L"Msg", T(L"a \"q\" \\ ] \u00fc")}}});
        ASSERT_EQ(log.Insert(records), 0);
    };
    insertHalf(0);
    ChildProcess forwarder;
    ASSERT_TRUE(
        forwarder.Start(HelperProgram("ovractl"),
                        {"log", "forward", dir.Utf8Path("log.db"), "--to",
                         "tcp://127.0.0.1:" + port, "--follow", "--state", dir.Utf8Path("state")}));
    Lines lines;
    AwaitSequences(dir, lines, 1);
    server->Kill();  // in the middle of the stream
    server->Wait();
    insertHalf(kHalf);
    std::remove(dir.Utf8Path("pid").c_str());
    server = std::make_unique<ChildProcess>();
    ASSERT_TRUE(server->Start(kRsyslogd, serverArgs));
    const auto found = AwaitSequences(dir, lines, 2 * kHalf);
    forwarder.Kill();
    EXPECT_EQ(found.size(), 2u * kHalf);
    std::printf("forwarded %d records: %zu lines received, %zu duplicates\n", 2 * kHalf,
                lines.size(), lines.size() - found.size());
    // rsyslog writes out what it parsed: the escapes come through only when they are right.
    const std::regex first(
        R"(<14>1 2023-11-14T22:13:20\.000Z \S+ ovra [0-9]+ log \[ovra@32473 cursor="ovra1:1:1700000000000" )"
        R"(Msg="a \\"q\\" \\\\ \\\] ü" Seq="0" Time="1700000000000"\] Msg=a "q" \\ \] ü Seq=0 Time=1700000000000)");
    for (const std::string& line : lines)
        EXPECT_TRUE(line.find("Seq=\"0\"") == std::string::npos || std::regex_match(line, first))
            << line;
}
#endif

}  // namespace
}  // namespace Ovra
