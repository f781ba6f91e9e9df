#include "Output.h"

#include <Ovra/Bases/StringConv.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace ovractl {

int Fail(const std::string& what, const std::string& detail, int code) {
    std::cerr << "ovractl: " << what;
    if (!detail.empty()) std::cerr << ": " << detail;
    std::cerr << " (code " << code << ")" << std::endl;
    return code;
}

std::string Utf8(const std::wstring& text) {
    return Ovra::tcs_to_utf8(text);
}

std::wstring Wide(const std::string& text) {
    return Ovra::utf8_to_tcs(text);
}

std::string UtcTimeText(long long ms) {
    long long seconds = ms / 1000;
    long long days = seconds / 86400;
    const long long rest = seconds % 86400;
    // Civil date from a day count (proleptic Gregorian).
    days += 719468;
    const long long era = days / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", year, month, day,
                  rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

std::string HumanSize(std::uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    }
    return text;
}

namespace {
// Display width of UTF-8 text: one column per code point (no wide glyphs in our output).
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}
}  // namespace

void Table::Add(std::vector<std::string> cells, nlohmann::json object) {
    cells.resize(m_columns.size());
    if (object.is_null()) {
        object = nlohmann::json::object();
        for (std::size_t i = 0; i < m_columns.size(); ++i) object[m_columns[i]] = cells[i];
    }
    m_rows.push_back(std::move(cells));
    m_objects.push_back(std::move(object));
}

void Table::Print(bool json) const {
    if (json) {
        for (const auto& object : m_objects) std::cout << object.dump() << '\n';
        std::cout.flush();
        return;
    }
    std::vector<std::size_t> widths(m_columns.size());
    for (std::size_t i = 0; i < m_columns.size(); ++i) widths[i] = Width(m_columns[i]);
    for (const auto& row : m_rows) {
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            out += cells[i];
            if (i + 1 < cells.size()) out += std::string(widths[i] - Width(cells[i]) + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        std::cout << out << '\n';
    };
    line(m_columns);
    std::vector<std::string> rule;
    for (std::size_t width : widths) rule.push_back(std::string(width, '-'));
    line(rule);
    for (const auto& row : m_rows) line(row);
    std::cout.flush();
}

void ProgressBar::Show(unsigned int percent) {
    if (percent > 100) percent = 100;
    if (static_cast<int>(percent) == m_last) return;
    m_last = static_cast<int>(percent);
    const int filled = static_cast<int>(percent) / 5;
    std::fprintf(stderr, "\r%s [%s%s] %3u%%", m_label.c_str(), std::string(filled, '#').c_str(),
                 std::string(20 - filled, '.').c_str(), percent);
    std::fflush(stderr);
}

void ProgressBar::Interrupt() {
    if (m_last >= 0) std::fprintf(stderr, "\n");
    m_last = -1;
}

void ProgressBar::Finish(const std::string& result) {
    std::fprintf(stderr, "%s%s\n", m_last >= 0 ? " " : "", result.c_str());
    std::fflush(stderr);
}

}  // namespace ovractl
