// ovra_log_child DB FIRST [wal]: opens the log database DB (creating the table when missing, and
// switching to the write-ahead log when asked) and writes records numbered FIRST, FIRST+1, ...,
// alone or in batches of up to 5. It prints "<number>;" for every record of an insert that
// reported success, until it is killed or has written a million records.
#include "tests/hardening/LogRecords.h"

#include <cstdio>
#include <cstdlib>

using namespace Ovra;

int main(int argc, char** argv) {
    LogService log;
    if (argc < 3 || log.Open(std::filesystem::path(argv[1]).wstring()) != 0 ||
        hardening::EnsureTable(log) != 0 ||
        (argc > 3 && log.EnableWriteAheadLog(std::string(argv[3]) == "wal") != 0))
        return 3;
    std::printf("ready\n");
    for (long long first = std::atoll(argv[2]), seq = first, size = 1; seq < first + 1000000;
         seq += size) {
        // 1 + seq % 5 records under the batch number seq: a single insert for one, else a batch.
        std::fflush(stdout);
        std::list<LogService::Record> records;
        for (size = 0; size <= seq % 5; ++size)
            records.push_back(
                {seq + size, hardening::RecordData(seq + size, static_cast<int>(seq))});
        const int result = size == 1 ? log.Insert(seq, records.front().data) : log.Insert(records);
        for (long long i = 0; i < size; ++i)
            std::printf(result ? "failed %lld\n" : "%lld;\n", seq + i);
    }
    return 0;
}
