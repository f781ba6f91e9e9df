// Any stored CREATE statement (a crafted or damaged database file) through the column-type reading:
// no crash, and only names and types that a statement of ours could have declared come out.
#include "src/log/LogStatements.h"

#include <Ovra/Bases/StringConv.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text =
        Ovra::utf8_to_tcs(std::string(reinterpret_cast<const char*>(data), size));
    const auto types = Ovra::logsql::ParseColumnTypes(text);
    for (const auto& column : types) {
        if (column.first.empty() || column.first.find(L' ') != std::wstring::npos ||
            column.first.find(L',') != std::wstring::npos)
            std::abort();  // a name the split should never produce
        switch (column.second) {
            case Ovra::LogVariant::UInt8:
            case Ovra::LogVariant::UInt16:
            case Ovra::LogVariant::UInt32:
                std::abort();  // unsigned types have no words of their own
            default:
                break;
        }
    }
    return 0;
}
