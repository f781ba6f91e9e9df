#pragma once

// Turning the text of result rows back into typed records.

#include <Ovra/LogService.h>

#include <list>
#include <map>
#include <string>
#include <vector>

namespace Ovra {

class CppSQLite3Rows;

namespace logrows {

// The C library's decimal readings (_wtoi, _wtoi64, _wtof) over UTF-8 text: leading white space
// and a sign are accepted, reading stops at the first character that cannot continue the number,
// no number gives 0, and integers out of range saturate.
int ParseInt(const char* text);
long long ParseInt64(const char* text);
double ParseDouble(const char* text);

using Row = std::list<LogService::FieldData>;

// Reads result rows as records: for each column of `types` (map order) whose value is not NULL,
// its name and its value read as its type. The map is read at the first row, so it may change
// until then (the reader is made before the lock that guards the map is taken).
class RecordReader {
public:
    // `exact`: Float and Double columns holding a number are taken as SQLite holds it, not from
    // its text (which has 15 significant digits). The list Search reads the text; the streaming
    // readers (visitor search, cursor, text search) ask for the exact value.
    explicit RecordReader(const std::map<std::wstring, LogVariant::Type>& types, bool exact = false)
        : m_types(types), m_exact(exact) {}

    // Appends the values of the current row to `record`. The first row finds every column by its
    // UTF-8 name, raising "Invalid field name requested" for one that is missing; later rows
    // (of later statements too) use the same indexes.
    void Read(const CppSQLite3Rows& rows, Row& record);

    // Room for widening text, kept from value to value.
    struct Scratch {
        std::vector<wchar_t> wide;
        std::wstring text;
    };

private:
    using ReadValue = void (*)(const char* text, int bytes, Scratch& scratch, LogVariant& value);
    using ReadReal = void (*)(double real, LogVariant& value);
    struct Column {
        const std::wstring* name;
        int index;
        ReadValue read;  // chosen once, by the column's type
        bool text;       // whether `read` needs the length of the text
        // Float and Double columns: a stored number is taken as SQLite holds it, since its text
        // has only 15 significant digits.
        ReadReal real;
    };
    void Resolve(const CppSQLite3Rows& rows);

    const std::map<std::wstring, LogVariant::Type>& m_types;
    bool m_exact;
    std::vector<Column> m_columns;
    bool m_resolved = false;
    Scratch m_scratch;
};

}  // namespace logrows
}  // namespace Ovra
