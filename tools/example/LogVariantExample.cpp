// Shows the typed values of the log database and the SQL text each one contributes.
#include <Ovra/LogVariant.h>

#include <cstdio>
#include <string>
#include <vector>

int main() {
    using Ovra::LogVariant;
    const std::vector<LogVariant> values = {LogVariant(static_cast<signed char>(-5)),
                                            LogVariant(static_cast<unsigned char>(200)),
                                            LogVariant(static_cast<short>(-1200)),
                                            LogVariant(static_cast<unsigned short>(65535)),
                                            LogVariant(42),
                                            LogVariant(4294967295u),
                                            LogVariant(1700000000000LL),
                                            LogVariant(1.5f),
                                            LogVariant(3.14159265358979),
                                            LogVariant(L"camera 7: motion")};
    std::printf("%-8s %-10s %s\n", "type", "word", "SQL text");
    for (const LogVariant& value : values) {
        const std::wstring word = value.GetTypeString();
        const std::wstring text = value.ToString();
        std::printf("%-8d %-10ls [%ls]\n", static_cast<int>(value.GetType()), word.c_str(),
                    text.c_str());
    }
    std::printf("\"int64\" parses as type %d; \"INTEGER\" as %d\n",
                static_cast<int>(LogVariant::GetType(L"int64")),
                static_cast<int>(LogVariant::GetType(L"INTEGER")));
    return 0;
}
