#pragma once

// How ovractl speaks: aligned tables or JSON lines on stdout, one clear line per error on stderr.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace ovractl {

// Exit codes of the tool itself; every other nonzero exit is the library's own result code.
enum ExitCode {
    kOk = 0,
    kUsage = 64,        // the command line is wrong
    kBadInput = 65,     // a value, column or file line the tool cannot use
    kNoInput = 66,      // a database, folder or root that does not exist
    kUnavailable = 69,  // the facility is not on this platform
    kCancelled = 75,    // the user declined a confirmation
};

// Prints "ovractl: <what>: <detail> (code N)" on stderr and returns `code`.
int Fail(const std::string& what, const std::string& detail, int code);

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);

// "2024-05-01 12:00:00" (UTC) of a time in ms since 1970.
std::string UtcTimeText(long long ms);

// "1.5 GiB", "512 B".
std::string HumanSize(std::uint64_t bytes);

// Collects rows and prints them as an aligned table, or each row as one JSON object.
class Table {
public:
    explicit Table(std::vector<std::string> columns) : m_columns(std::move(columns)) {}
    void Add(std::vector<std::string> cells, nlohmann::json object = nlohmann::json());
    void Print(bool json) const;
    bool Empty() const { return m_rows.empty(); }

private:
    std::vector<std::string> m_columns;
    std::vector<std::vector<std::string>> m_rows;
    std::vector<nlohmann::json> m_objects;
};

// A live progress bar on stderr ("[#####.....]  50%"), drawn in place.
class ProgressBar {
public:
    explicit ProgressBar(std::string label) : m_label(std::move(label)) {}
    void Show(unsigned int percent);
    // Ends the bar's line so that a message can be printed; the next Show draws it again.
    void Interrupt();
    void Finish(const std::string& result);

private:
    std::string m_label;
    int m_last = -1;
};

}  // namespace ovractl
