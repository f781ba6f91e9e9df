// Uses the installed library through its exported headers only.
#include <Ovra/LogVariant.h>

#include <cstdio>

int main() {
    const bool ok = Ovra::LogVariant(4294967295u).ToString() == L"-1";
    std::printf("consumer: %s\n", ok ? "ok" : "wrong");
    return ok ? 0 : 1;
}
