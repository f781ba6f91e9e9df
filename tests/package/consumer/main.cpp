// Uses the installed library through its exported headers only.
#include <Ovra/LogVariant.h>
#include <Ovra/ResultCodes.h>

#include <cstdio>

int main() {
    const char* text = Ovra::result::Text(Ovra::result::kNoSmart);
    const bool ok = Ovra::LogVariant(4294967295u).ToString() == L"-1" && text;
    std::printf("consumer: %s (%d: %s)\n", ok ? "ok" : "wrong", Ovra::result::kNoSmart,
                text ? text : "no text");
    return ok ? 0 : 1;
}
