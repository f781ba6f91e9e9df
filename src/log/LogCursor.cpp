// LogService: cursors over the rowid, and the number a follower polls.
#include <Ovra/LogCursor.h>
#include <Ovra/LogService.h>

#include "src/log/CppSQLite3.h"
#include "src/log/LogRows.h"
#include "src/log/LogServiceInternals.h"
#include "src/log/LogStatements.h"

#include <cwchar>
#include <limits>
#include <string>

namespace Ovra {

using namespace logservice;

namespace {

const wchar_t kCursorPrefix[] = L"ovra1:";

std::wstring CursorText(long long rowid, long long time) {
    return kCursorPrefix + std::to_wstring(rowid) + L':' + std::to_wstring(time);
}

// Digits only (after an optional '-' when `signedValue`), within the 64-bit range.
bool ReadNumber(const std::wstring& text, std::size_t& at, bool signedValue, long long& out) {
    const bool negative = signedValue && at < text.size() && text[at] == L'-';
    if (negative) ++at;
    const std::size_t start = at;
    unsigned long long magnitude = 0;
    const unsigned long long limit =
        static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + (negative ? 1 : 0);
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
        const unsigned digit = static_cast<unsigned>(text[at] - L'0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    if (at == start) return false;
    out = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
    return true;
}

bool ParseCursor(const std::wstring& text, long long& rowid, long long& time) {
    rowid = time = 0;
    if (text.empty()) return true;
    const std::size_t prefix = std::wcslen(kCursorPrefix);
    std::size_t at = prefix;
    return text.compare(0, prefix, kCursorPrefix) == 0 && ReadNumber(text, at, false, rowid) &&
           at < text.size() && text[at++] == L':' && ReadNumber(text, at, true, time) &&
           at == text.size();
}

// A rowid or Time column read back as the integer it holds.
long long Integer(const CppSQLite3Rows& row, int column) {
    const char* text = row.Text(column);
    return text ? logrows::ParseInt64(text) : 0;
}

}  // namespace

int LogService::ReadAfter(const std::wstring& cursor, size_t limit, LogCursorVisitor& visitor) {
    long long rowid = 0, time = 0;
    if (!ParseCursor(cursor, rowid, time)) return kBadArgument;
    return Guarded(&m_broken, [&] {
        ForegroundLock lock(*this);  // the check and the reading see one table
        if (rowid > 0) {
            bool lost = true;
            StepRows(logsql::CursorCheck(rowid), [&](const CppSQLite3Rows& row) {
                const bool present = row.Text(0) != nullptr;
                lost = present ? Integer(row, 0) != time : Integer(row, 1) < rowid;
                return true;
            });
            if (lost) return result::kNotFound;
        }
        logrows::RecordReader reader(m_fieldTypes, true);
        logrows::Row record;
        StepRows(logsql::ReadAfter(rowid, limit), [&](const CppSQLite3Rows& row) {
            record.clear();
            reader.Read(row, record);
            long long recordTime = 0;
            for (const FieldData& field : record) {
                if (field.name == logsql::kTimeField) recordTime = field.value;
            }
            const std::wstring next = CursorText(Integer(row, 0), recordTime);
            VisitGuard visiting(m_visiting);
            return visitor.OnLogRecord(next, record) != 0;
        });
        return kOk;
    });
}

int LogService::GetCursorAtEnd(std::wstring& cursor) {
    return Guarded(&m_broken, [&] {
        long long rowid = 0, time = 0;
        StepRows(logsql::LastRecord(), [&](const CppSQLite3Rows& row) {
            rowid = Integer(row, 0);
            time = Integer(row, 1);
            return true;
        });
        cursor = CursorText(rowid, time);
        return kOk;
    });
}

int LogService::GetDataVersion(unsigned long long& version) {
    return Guarded(&m_broken, [&] {
        ForegroundLock lock(*this);
        CppSQLite3DB& db = Db();
        // data_version moves with the commits of other connections, total_changes with ours.
        version = static_cast<unsigned long long>(db.QueryInt(logsql::kDataVersionQuery)) +
                  static_cast<unsigned long long>(db.TotalChanges());
        return kOk;
    });
}

}  // namespace Ovra
