// LogService against raw SQLite on the same file layout (same table, same pragmas, a fresh file
// per benchmark). Each service benchmark has a baseline; the summary prints service/baseline.

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/StringConv.h>
#include <Ovra/LogService.h>

#include "BenchSupport.h"
#include "SearchWorkloads.h"
#include "src/log/LogStatements.h"

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

using logbench::kSearchRecords;
const int kCountRecords = 100000;
const int kRetentionRecords = 100000;
const int kRetentionOld = 10000;  // deleted by each pass
const long long kHour = 3600000LL;

using logbench::Fields;
using logbench::MakeField;
using logbench::TempFile;
using logbench::Values;

// The search setup with the index the count and retention benchmarks use.
struct IndexedSetup : logbench::Setup {
    using logbench::Setup::Setup;
    void Index() { service.CreateIndex({MakeField(L"Level", LogVariant::Int32)}); }
};
using Setup = IndexedSetup;

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

// Every benchmark of the search reads the same file the same way: see SearchWorkloads.h.
void SearchBench(benchmark::State& state, const char* tag, int (*read)(logbench::Setup&),
                 bool steady) {
    Setup setup(tag);
    setup.Fill(kSearchRecords, 1700000000000LL);
    SteadyHeap heap(steady);
    for (auto _ : state) {
        if (read(setup) != kSearchRecords) state.SkipWithError("wrong row count");
    }
}

void BM_SearchRaw(benchmark::State& state) {
    SearchBench(state, "search-raw", logbench::SearchWithGetTable, false);
}
void BM_SearchStepRaw(benchmark::State& state) {
    SearchBench(state, "search-step", logbench::SearchWithSteps, false);
}
void BM_Search(benchmark::State& state) {
    SearchBench(state, "search", logbench::SearchWithService, false);
}
void BM_SearchSteadyHeapRaw(benchmark::State& state) {
    SearchBench(state, "search-steady-raw", logbench::SearchWithGetTable, true);
}
void BM_SearchSteadyHeap(benchmark::State& state) {
    SearchBench(state, "search-steady", logbench::SearchWithService, true);
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
        std::printf("\nservice / raw SQLite (targets: Insert <= 1.10, Search <= 1.50)\n");
        const std::pair<const char*, const char*> pairs[] = {
            {"Insert", "InsertRaw"},
            {"Search", "SearchRaw"},
            {"Search", "SearchStepRaw"},  // the floor, no target
            {"SearchSteadyHeap", "SearchSteadyHeapRaw"},
            {"Count", "CountRaw"},
            {"Retention", "RetentionRaw"}};
        for (const auto& pair : pairs) {
            const auto service = m_times.find(std::string("BM_") + pair.first);
            const auto raw = m_times.find(std::string("BM_") + pair.second);
            if (service == m_times.end() || raw == m_times.end() || raw->second <= 0) continue;
            std::printf("  %-17s / %-19s %6.3f  (%.1f us vs %.1f us)\n", pair.first, pair.second,
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
