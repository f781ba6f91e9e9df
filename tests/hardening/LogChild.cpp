// ovra_log_child DB FIRST [wal]: opens the log database DB (creating the table when missing, and
// switching to the write-ahead log when asked) and writes records numbered FIRST, FIRST+1, ...,
// alone or in batches of up to 5. It prints "<number>;" for every record of an insert that
// reported success, until it is killed or has written a million records.
#include "tests/hardening/LogRecords.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const long long first = std::atoll(argv[2]);
    Ovra::LogService log;
    if (log.Open(std::filesystem::path(argv[1]).wstring()) != 0 ||
        Ovra::hardening::EnsureTable(log) != 0 ||
        (argc > 3 && log.EnableWriteAheadLog(std::string(argv[3]) == "wal") != 0)) {
        std::printf("setup failed\n");
        return 3;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (long long seq = first; seq < first + 1000000;) {
        // 1 + seq % 5 records under the batch number seq: a single insert for one, else a batch.
        const int size = 1 + static_cast<int>(seq % 5);
        std::list<Ovra::LogService::Record> records;
        for (int i = 0; i < size; ++i) {
            records.push_back(
                {seq + i, Ovra::hardening::RecordData(seq + i, static_cast<int>(seq))});
        }
        const int result = size == 1 ? log.Insert(seq, records.front().data) : log.Insert(records);
        for (int i = 0; i < size && result == 0; ++i) std::printf("%lld;\n", seq + i);
        if (result != 0) std::printf("failed %lld\n", seq);
        std::fflush(stdout);
        seq += size;
    }
    return 0;
}
