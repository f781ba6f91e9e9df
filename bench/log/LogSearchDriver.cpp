// The search benchmark of log_bench for builds without Google Benchmark (the Windows build):
// times Search against sqlite3_get_table and against the floor of stepping the statement, on the
// same file, in interleaved rounds, and prints the mean time of each and the two ratios.
//   log_bench [SECONDS]   (default 3)

#include "SearchWorkloads.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

struct Reader {
    const char* name;
    int (*read)(logbench::Setup&);
    double seconds = 0;
    long runs = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const double budget = argc > 1 ? std::atof(argv[1]) : 3.0;
    logbench::Setup setup("search-driver");
    setup.Fill(logbench::kSearchRecords, 1700000000000LL);
    Reader readers[] = {{"get_table", logbench::SearchWithGetTable},
                        {"step", logbench::SearchWithSteps},
                        {"Search", logbench::SearchWithService}};
    for (Reader& reader : readers) reader.read(setup);  // warm the page cache
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(budget));
    while (Clock::now() < end) {
        for (Reader& reader : readers) {
            const Clock::time_point start = Clock::now();
            if (reader.read(setup) != logbench::kSearchRecords) {
                std::printf("%s: wrong row count\n", reader.name);
                return 1;
            }
            reader.seconds += std::chrono::duration<double>(Clock::now() - start).count();
            ++reader.runs;
        }
    }
    std::printf("search of %d five-column records, mean of %ld interleaved runs each\n",
                logbench::kSearchRecords, readers[0].runs);
    for (const Reader& reader : readers) {
        std::printf("  %-10s %8.2f ms\n", reader.name, 1e3 * reader.seconds / reader.runs);
    }
    std::printf("Search / get_table %.3f, Search / step (the floor) %.3f\n",
                readers[2].seconds / readers[0].seconds, readers[2].seconds / readers[1].seconds);
    return 0;
}
