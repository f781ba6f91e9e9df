// LogService against raw SQLite on the same file layout (same table, same pragmas, a fresh file
// per benchmark). Each service benchmark has a baseline; the summary prints service/baseline.

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/StringConv.h>
#include <Ovra/LogService.h>

#include "BenchSupport.h"
#include "log/LogStatements.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {

using Ovra::LogService;
using Ovra::LogVariant;

const int kSearchRecords = 20000;
const int kCountRecords = 100000;
const int kRetentionRecords = 100000;
const int kRetentionOld = 10000;  // deleted by each pass
const long long kHour = 3600000LL;

using logbench::Fields;
using logbench::MakeField;
using logbench::TempFile;
using logbench::Values;

// A service with its table on a fresh file, and a raw connection set up as the service sets its
// own (busy timeout, synchronous=OFF).
struct Setup {
    explicit Setup(const char* tag) : file(tag) {
        service.Open(file.Wide());
        service.Create(Fields());
        sqlite3_open_v2(file.Utf8().c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr);
        sqlite3_busy_timeout(raw, 60000);
        sqlite3_exec(raw, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    }
    ~Setup() {
        sqlite3_close(raw);
        service.Close();
    }
    // Bulk load through the raw connection, in one transaction.
    void Fill(int count, long long firstTime) {
        sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        for (int i = 0; i < count; ++i) {
            const std::string sql =
                Ovra::tcs_to_utf8(Ovra::logsql::Insert(firstTime + i, Values(i)));
            sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr);
        }
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    }
    void Index() { service.CreateIndex({MakeField(L"Level", LogVariant::Int32)}); }

    TempFile file;
    LogService service;
    sqlite3* raw = nullptr;
};

// ---------------------------------------------------------------------------- Insert

void BM_InsertRaw(benchmark::State& state) {
    Setup setup("insert-raw");
    const std::string sql = Ovra::tcs_to_utf8(Ovra::logsql::Insert(1700000000000LL, Values(1)));
    for (auto _ : state) {
        if (sqlite3_exec(setup.raw, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            state.SkipWithError("insert failed");
        }
    }
}
BENCHMARK(BM_InsertRaw);

void BM_Insert(benchmark::State& state) {
    Setup setup("insert");
    const std::list<LogService::FieldData> data = Values(1);
    for (auto _ : state) {
        if (setup.service.Insert(1700000000000LL, data) != 0) state.SkipWithError("insert failed");
    }
}
BENCHMARK(BM_Insert);

// ---------------------------------------------------------------------------- Search

// glibc hands the pages of a freed 20 MB result back to the system and faults them in again
// for the next one; that cost belongs to the allocator, not to the conversion. The SteadyHeap
// pair keeps the freed pages for its duration to show the conversion alone.
class SteadyHeap {
public:
    explicit SteadyHeap(bool enable) : m_enabled(enable) {
#if defined(__GLIBC__)
        if (m_enabled) mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    }
    ~SteadyHeap() {
#if defined(__GLIBC__)
        if (m_enabled) mallopt(M_TRIM_THRESHOLD, 128 * 1024);
#endif
    }

private:
    bool m_enabled;
};

void SearchRaw(benchmark::State& state, bool steady) {
    Setup setup("search-raw");
    setup.Fill(kSearchRecords, 1700000000000LL);
    const std::string sql = Ovra::tcs_to_utf8(Ovra::logsql::SelectAll(L""));
    SteadyHeap heap(steady);
    for (auto _ : state) {
        char** results = nullptr;
        int rows = 0, columns = 0;
        sqlite3_get_table(setup.raw, sql.c_str(), &results, &rows, &columns, nullptr);
        if (rows != kSearchRecords) state.SkipWithError("wrong row count");
        sqlite3_free_table(results);
    }
}

// The floor: stepping the statement and asking for every value's text, which any reader must do.
void SearchStepRaw(benchmark::State& state, bool steady) {
    Setup setup("search-step-raw");
    setup.Fill(kSearchRecords, 1700000000000LL);
    const std::string sql = Ovra::tcs_to_utf8(Ovra::logsql::SelectAll(L""));
    SteadyHeap heap(steady);
    for (auto _ : state) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(setup.raw, sql.c_str(), -1, &statement, nullptr);
        int rows = 0;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            for (int i = 0, n = sqlite3_column_count(statement); i < n; ++i) {
                benchmark::DoNotOptimize(sqlite3_column_text(statement, i));
            }
            ++rows;
        }
        sqlite3_finalize(statement);
        if (rows != kSearchRecords) state.SkipWithError("wrong row count");
    }
}

void Search(benchmark::State& state, bool steady) {
    Setup setup("search");
    setup.Fill(kSearchRecords, 1700000000000LL);
    SteadyHeap heap(steady);
    for (auto _ : state) {
        std::list<std::list<LogService::FieldData>> rows;
        setup.service.Search(L"", rows);
        if (rows.size() != kSearchRecords) state.SkipWithError("wrong row count");
    }
}

void BM_SearchRaw(benchmark::State& state) {
    SearchRaw(state, false);
}
void BM_Search(benchmark::State& state) {
    Search(state, false);
}
void BM_SearchStepRaw(benchmark::State& state) {
    SearchStepRaw(state, false);
}
void BM_SearchSteadyHeapRaw(benchmark::State& state) {
    SearchRaw(state, true);
}
void BM_SearchSteadyHeap(benchmark::State& state) {
    Search(state, true);
}
BENCHMARK(BM_SearchRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchStepRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchSteadyHeapRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchSteadyHeap)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------- Count

const wchar_t kCountClause[] = L"where Time >= 1700000050000";

void BM_CountRaw(benchmark::State& state) {
    Setup setup("count-raw");
    setup.Fill(kCountRecords, 1700000000000LL);
    setup.Index();
    const std::string sql = Ovra::tcs_to_utf8(Ovra::logsql::Count(kCountClause));
    for (auto _ : state) {
        char** results = nullptr;
        int rows = 0, columns = 0;
        sqlite3_get_table(setup.raw, sql.c_str(), &results, &rows, &columns, nullptr);
        benchmark::DoNotOptimize(results);
        sqlite3_free_table(results);
    }
}
BENCHMARK(BM_CountRaw)->Unit(benchmark::kMicrosecond);

void BM_Count(benchmark::State& state) {
    Setup setup("count");
    setup.Fill(kCountRecords, 1700000000000LL);
    setup.Index();
    for (auto _ : state) {
        unsigned long long count = 0;
        setup.service.GetRecordCount(kCountClause, count);
        if (count != kCountRecords / 2) state.SkipWithError("wrong count");
    }
}
BENCHMARK(BM_Count)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------- Retention

class RetentionProbe : public LogService {
public:
    using LogService::DeleteOldRecord;
};

// 100,000 records, the oldest 10,000 of them two hours old: each pass deletes those, and they are
// put back (untimed) before the next.
template <typename Pass>
void RunRetention(benchmark::State& state, Setup& setup, Pass pass) {
    const long long now = Ovra::GetCurTime();
    setup.Fill(kRetentionRecords - kRetentionOld, now);
    setup.Index();
    for (auto _ : state) {
        state.PauseTiming();
        setup.Fill(kRetentionOld, now - 2 * kHour - kRetentionOld);
        state.ResumeTiming();
        pass();
    }
}

void BM_RetentionRaw(benchmark::State& state) {
    Setup setup("retention-raw");
    RunRetention(state, setup, [&] {
        const std::string sql =
            Ovra::tcs_to_utf8(Ovra::logsql::DeleteBefore(Ovra::GetCurTime() - 60 * 60000LL));
        sqlite3_exec(setup.raw, sql.c_str(), nullptr, nullptr, nullptr);
    });
}
BENCHMARK(BM_RetentionRaw)->Unit(benchmark::kMillisecond);

void BM_Retention(benchmark::State& state) {
    Setup setup("retention");
    RunRetention(state, setup,
                 [&] { static_cast<RetentionProbe&>(setup.service).DeleteOldRecord(); });
}
BENCHMARK(BM_Retention)->Unit(benchmark::kMillisecond);

// Collects the mean time per iteration of every run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations <= 0) continue;
            const double perIteration = run.real_accumulated_time / run.iterations;
            if (run.run_type == Run::RT_Aggregate) {
                // With repetitions the mean stands for the benchmark.
                if (run.aggregate_name == "mean")
                    m_means[run.run_name.function_name] = perIteration;
            } else {
                m_times[run.run_name.function_name] = perIteration;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() {
        for (const auto& mean : m_means) m_times[mean.first] = mean.second;
        std::printf("\nservice / raw SQLite (targets: Insert <= 1.10, Search <= 2.00)\n");
        for (const char* name : {"Insert", "Search", "SearchSteadyHeap", "Count", "Retention"}) {
            const auto service = m_times.find(std::string("BM_") + name);
            const auto raw = m_times.find(std::string("BM_") + name + "Raw");
            if (service == m_times.end() || raw == m_times.end() || raw->second <= 0) continue;
            std::printf("  %-17s %6.3f  (%.1f us vs %.1f us)\n", name,
                        service->second / raw->second, service->second * 1e6, raw->second * 1e6);
        }
    }

private:
    std::map<std::string, double> m_times;
    std::map<std::string, double> m_means;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
