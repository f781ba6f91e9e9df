// Any text as a stored CREATE statement (a crafted or damaged database file) and as a column type
// word: no crash, only names and types that a statement of ours could have declared come out, a
// type word names a signed type or None and reads back from its own word, and text keeps its form.
#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

#include <cstdint>
#include <cstdlib>
#include <string>

using Ovra::LogVariant;

// Unsigned types have no words of their own.
static void CheckType(LogVariant::Type type) {
    if (type == LogVariant::UInt8 || type == LogVariant::UInt16 || type == LogVariant::UInt32 ||
        (type != LogVariant::None &&
         LogVariant::GetType(LogVariant::GetTypeString(type).c_str()) != type))
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text =
        Ovra::utf8_to_tcs(std::string(reinterpret_cast<const char*>(data), size));
    CheckType(LogVariant::GetType(text.c_str()));
    if (LogVariant(text).ToString() != text) std::abort();
    for (const auto& column : Ovra::logsql::ParseColumnTypes(text)) {
        if (column.first.empty() || column.first.find_first_of(L" ,") != std::wstring::npos)
            std::abort();  // a name the split should never produce
        CheckType(column.second);
    }
    return 0;
}
