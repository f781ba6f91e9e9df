#pragma once

#include <ctime>
#include <memory>
#include <regex>
#include <string>

namespace Ovra {
namespace watch {

// Self-tests in smartd's -s syntax: an extended regular expression matched in full against
// "T/MM/DD/d/HH" for each kind T of test (S short, L extended, C conveyance) in local time.
class SelfTestSchedule {
public:
    // 0 with `schedule` set (null for an empty expression), or 141 for an expression that does not
    // compile (`schedule` is left alone); 102 out of memory.
    static int Parse(const std::wstring& expression,
                     std::shared_ptr<const SelfTestSchedule>& schedule);

    // The DiskSelfTest kind due in the hour of `local`, -1 for none. When several match, the
    // longest wins, as in smartd: extended, then conveyance, then short.
    int Due(const std::tm& local) const;

private:
    explicit SelfTestSchedule(std::wregex expression) : m_expression(std::move(expression)) {}

    std::wregex m_expression;
};

// The broken-down local time of `time` (ms since the epoch); false when the C runtime cannot
// convert it.
bool LocalTime(long long time, std::tm& local);

// A number that is the same for every moment of one hour of one local date.
long long HourOf(const std::tm& local);

}  // namespace watch
}  // namespace Ovra
