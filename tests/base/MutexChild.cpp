// Second process for the named-mutex tests: takes the mutex, says whether it got it, holds it
// until its input ends (or until it is killed), then lets it go.
#include <Ovra/Bases/Mutex.h>
#include <Ovra/Bases/StringConv.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    Ovra::Mutex mutex(Ovra::mbs_to_tcs(argv[1]).c_str());
    const bool held = mutex.Lock(0) != 0;
    std::printf("%s\n", held ? "locked" : "busy");
    std::fflush(stdout);
    while (std::getchar() != EOF) continue;
    if (held) mutex.Unlock();
    return held ? 0 : 1;
}
