// ovractl's streaming log commands, run as a user runs them: export and import give back every
// typed value exactly, tail --follow prints what another process inserts, and forward delivers
// every record to a real rsyslogd at least once across its restart.
#include "tests/log/LogTestSupport.h"
#include "tests/support/ChildProcess.h"

#include <Ovra/LogCursor.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
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

// Runs ovractl to its end; its output lines and exit code.
int Ovractl(const std::vector<std::string>& args, std::vector<std::string>* lines = nullptr) {
    ChildProcess child;
    if (!child.Start(HelperProgram("ovractl"), args)) return -1;
    child.CloseInput();
    for (std::string line; child.ReadLine(line);)
        if (lines) lines->push_back(line);
    return child.Wait();
}

// Values by their exact bits: text forms would hide a float that lost its last digits.
std::vector<std::string> Bits(const Rows& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) {
        std::ostringstream line;
        for (const auto& field : row) {
            line << tcs_to_utf8(field.name) << ':' << field.value.GetType() << '=';
            const double real = field.value.GetType() == T::Float
                                    ? static_cast<float>(field.value)
                                    : static_cast<double>(field.value);
            unsigned long long bits = 0;
            std::memcpy(&bits, &real, sizeof bits);
            if (field.value.GetType() == T::Float || field.value.GetType() == T::Double) {
                line << std::hex << bits << std::dec << ' ';
            } else {
                line << tcs_to_utf8(field.value.ToString()) << ' ';
            }
        }
        out.push_back(line.str());
    }
    return out;
}

const std::list<LogService::Field> kAllTypes = {
    {L"I8", T::Int8},   {L"U8", T::UInt8},   {L"I16", T::Int16}, {L"U16", T::UInt16},
    {L"I32", T::Int32}, {L"U32", T::UInt32}, {L"I64", T::Int64}, {L"F", T::Float},
    {L"D", T::Double},  {L"S", T::Text}};

TEST(LogToolTest, ExportThenImportGivesBackEveryValueAndTailFollowsInserts) {
    ScratchDir dir;
    LogService from, to;
    ASSERT_EQ(from.Open(dir.WidePath("from.db")) + from.Create(kAllTypes), 0);
    const std::list<std::list<LogService::FieldData>> hard = {
        {{L"I8", T(static_cast<signed char>(-128))},
         {L"U8", T(static_cast<unsigned char>(255))},
         {L"I16", T(static_cast<short>(-32768))},
         {L"U16", T(static_cast<unsigned short>(65535))},
         {L"I32", T(INT_MIN)},
         {L"U32", T(4294967295u)},
         {L"I64", T(LLONG_MIN)},
         {L"F", T(0.1f)},
         {L"D", T(1.0 / 3)},
         {L"S", T(L"it's \"q\" \\ ]\n\ttab \u00fc\u20ac\U0001F600")}},
        {{L"I64", T(LLONG_MAX)}, {L"F", T(-3.4e38f)}, {L"D", T(DBL_MAX)}, {L"S", T(L"")}},
        {{L"D", T(-2.5e-7)}, {L"F", T(123456.789f)}},  // the rest NULL
    };
    long long time = -1;
    for (const auto& values : hard) ASSERT_EQ(from.Insert(time++, values), 0);
    std::vector<std::string> lines;
    ASSERT_EQ(Ovractl({"log", "export", dir.Utf8Path("from.db")}, &lines), 0);
    ASSERT_EQ(lines.size(), hard.size());
    std::ofstream(dir.Path("lines.jsonl"), std::ios::binary) << lines[0] << '\n'
                                                             << lines[1] << '\n'
                                                             << lines[2] << '\n';
    ASSERT_EQ(to.Open(dir.WidePath("to.db")) + to.Create(kAllTypes), 0);
    ASSERT_EQ(Ovractl({"log", "import", dir.Utf8Path("to.db"), dir.Utf8Path("lines.jsonl")}), 0);
    Rows expected, imported;
    ASSERT_EQ(from.Search(L"", expected) + to.Search(L"", imported), 0);
    EXPECT_EQ(Bits(imported), Bits(expected));

    std::wstring end;
    ASSERT_EQ(to.GetCursorAtEnd(end), 0);
    ChildProcess tail;
    ASSERT_TRUE(tail.Start(
        HelperProgram("ovractl"),
        {"log", "tail", dir.Utf8Path("to.db"), "--follow", "--json", "--after", tcs_to_utf8(end)}));
    ASSERT_EQ(to.Insert(99, {{L"S", T(L"late")}}), 0);
    std::string line;
    ASSERT_TRUE(tail.ReadLine(line));
    EXPECT_EQ(line, "{\"S\":\"late\",\"Time\":99,\"cursor\":\"ovra1:4:99\"}");
}

#if !defined(_WIN32)
// A syslog server on a loopback port, with its own configuration in `dir`.
class Rsyslogd {
public:
    explicit Rsyslogd(const ScratchDir& dir) : m_dir(dir) {
        m_port = FreePort();
        std::ofstream(dir.Path("rsyslog.conf"))
            << "global(workDirectory=\"" << dir.Utf8Path("") << "\")\nmodule(load=\"imtcp\")\n"
            << "input(type=\"imtcp\" port=\"" << m_port << "\" address=\"127.0.0.1\")\n"
            << "*.* action(type=\"omfile\" file=\"" << dir.Utf8Path("out.log")
            << "\" template=\"RSYSLOG_SyslogProtocol23Format\")\n";
    }
    void Start() {
        std::remove(m_dir.Utf8Path("rsyslog.pid").c_str());
        m_process.reset(new ChildProcess);
        ASSERT_TRUE(m_process->Start(kProgram, {"-n", "-f", m_dir.Utf8Path("rsyslog.conf"), "-i",
                                                m_dir.Utf8Path("rsyslog.pid")}));
    }
    void Kill() {
        m_process->Kill();
        m_process->Wait();
    }
    int Port() const { return m_port; }
    // Polls out.log (the server is another program: nothing else tells when it wrote) until
    // `done` holds for its lines, for at most a minute.
    template <typename Done>
    std::vector<std::string> AwaitLines(Done done) {
        std::vector<std::string> lines;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            lines.clear();
            std::ifstream in(m_dir.Path("out.log"));
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            if (done(lines)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return lines;
    }
    static constexpr const char* kProgram = "/usr/sbin/rsyslogd";

private:
    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(s, reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
        ::close(s);
        return ntohs(address.sin_port);
    }
    const ScratchDir& m_dir;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

// Every distinct Seq in the lines, and how many lines there were.
std::set<int> Sequences(const std::vector<std::string>& lines) {
    static const std::regex seq("Seq=\"([0-9]+)\"");
    std::set<int> out;
    std::smatch match;
    for (const auto& line : lines)
        if (std::regex_search(line, match, seq)) out.insert(std::stoi(match[1]));
    return out;
}

TEST(LogToolTest, ForwardDeliversEveryRecordAcrossAServerRestart) {
    if (::access(Rsyslogd::kProgram, X_OK) != 0)
        GTEST_SKIP() << "rsyslogd is not installed (Debian package rsyslog): forwarding untested";
    const int kHalf = 2000;
    ScratchDir dir;
    Rsyslogd server(dir);
    server.Start();
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
    ASSERT_TRUE(forwarder.Start(HelperProgram("ovractl"),
                                {"log", "forward", dir.Utf8Path("log.db"), "--to",
                                 "tcp://127.0.0.1:" + std::to_string(server.Port()), "--follow",
                                 "--state", dir.Utf8Path("state")}));
    server.AwaitLines(
        [](const std::vector<std::string>& lines) { return !Sequences(lines).empty(); });
    server.Kill();  // in the middle of the stream
    insertHalf(kHalf);
    server.Start();
    const auto lines = server.AwaitLines([&](const std::vector<std::string>& lines) {
        return Sequences(lines).size() == 2u * kHalf;
    });
    forwarder.Kill();
    ASSERT_EQ(Sequences(lines).size(), 2u * kHalf);
    const auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("Seq=\"0\"") != std::string::npos;
    });
    const auto received = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("Seq=\"") != std::string::npos;
    });
    std::printf("forwarded %d records: %ld received, %ld duplicates\n", 2 * kHalf,
                static_cast<long>(received), static_cast<long>(received - 2 * kHalf));
    // rsyslog writes out what it parsed: the escapes come through only when they are right.
    EXPECT_TRUE(std::regex_match(
        *first,
        std::regex(
            R"(<14>1 2023-11-14T22:13:20\.000Z \S+ ovra [0-9]+ log \[ovra@32473 cursor="ovra1:1:1700000000000" )"
            R"(Msg="a \\"q\\" \\\\ \\\] ü" Seq="0" Time="1700000000000"\] Msg=a "q" \\ \] ü Seq=0 Time=1700000000000)")))
        << *first;
}
#endif

}  // namespace
}  // namespace Ovra
