// Arbitrary text as a column type word: GetType must only ever name a signed type or None, and
// agree with the type words it writes itself.
#include <Ovra/LogVariant.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring word;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        word += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
    const Ovra::LogVariant::Type type = Ovra::LogVariant::GetType(word.c_str());
    switch (type) {
        case Ovra::LogVariant::UInt8:
        case Ovra::LogVariant::UInt16:
        case Ovra::LogVariant::UInt32:
            std::abort();  // unsigned types have no words of their own
        default:
            break;
    }
    if (type != Ovra::LogVariant::None &&
        Ovra::LogVariant::GetType(Ovra::LogVariant::GetTypeString(type).c_str()) != type)
        std::abort();
    Ovra::LogVariant value(word);
    if (value.ToString() != word) std::abort();
    return 0;
}
