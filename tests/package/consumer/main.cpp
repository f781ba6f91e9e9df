// Uses the installed library through its exported headers only.
#include <Ovra/LogVariant.h>
#include <Ovra/MediaDesc.h>

#include <cstdio>

int main() {
    Ovra::LogVariant value(4294967295u);
    Ovra::VideoDesc a = {}, b = {};
    b.width = 1920;
    a = b;
    const bool ok = value.ToString() == L"-1" && a.width == 1920;
    std::printf("consumer: %s\n", ok ? "ok" : "wrong");
    return ok ? 0 : 1;
}
