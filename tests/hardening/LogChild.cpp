// ovra_log_child DB FIRST: opens the log database DB (creating the table when missing) and inserts
// records numbered FIRST, FIRST+1, ... in a loop, printing "<number>;" for each insert that
// reported success, until it is killed or has written a million records.
#include "LogRecordShape.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ovra_log_child DB FIRST\n");
        return 2;
    }
    const long long first = std::atoll(argv[2]);
    Ovra::LogService log;
    if (log.Open(std::filesystem::path(argv[1]).wstring()) != 0) {
        std::printf("open failed\n");
        return 3;
    }
    if (Ovra::hardening::EnsureTable(log) != 0) {
        std::printf("create failed\n");
        return 4;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (long long seq = first; seq < first + 1000000; ++seq) {
        // The terminator tells a complete number from one cut short by the kill.
        if (log.Insert(seq, Ovra::hardening::RecordData(seq, 1)) == 0) {
            std::printf("%lld;\n", seq);
        } else {
            std::printf("failed %lld\n", seq);
        }
        std::fflush(stdout);
    }
    return 0;
}
