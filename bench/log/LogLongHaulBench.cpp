// The log database under a long-running load, each figure against its baseline in the same run:
// batched inserts against one Insert per record, single inserts with the write-ahead log against
// the rollback journal, the worst insert latency during a large expiry with chunked retention
// against the single delete statement, and the peak memory of a streaming search against Search.
// The summary at the end prints the figures and their ratios.

#include <Ovra/Bases/Clock.h>
#include <Ovra/Bases/StringConv.h>
#include <Ovra/LogService.h>

#include "BenchSupport.h"
#include "src/log/LogStatements.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Ovra::LogService;
using Ovra::LogVariant;
using Clock = std::chrono::steady_clock;

const int kBatchRecords = 100000;
const int kBatchSize = 500;
const int kSingleRecords = 20000;
const int kExpiredRecords = 1000000;
const int kFreshRecords = 100000;
const unsigned int kRetentionChunk = 10000;
const int kSearchRecords = 200000;
const long long kHour = 3600000LL;

std::map<std::string, double> g_figures;  // summary figures by name

using logbench::Fields;
using logbench::MakeField;
using logbench::TempFile;
using logbench::Values;

// Opens `file` with the table (and the time index when asked).
void OpenWithTable(LogService& service, const TempFile& file, bool index) {
    service.Open(file.Wide());
    service.Create(Fields());
    if (index) service.CreateIndex({MakeField(L"Level", LogVariant::Int32)});
}

// Bulk load through a raw connection in one transaction, with the service's statement texts.
void Fill(const std::string& path, int count, long long firstTime) {
    sqlite3* raw = nullptr;
    sqlite3_open(path.c_str(), &raw);
    sqlite3_exec(raw, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < count; ++i) {
        const std::string sql = Ovra::tcs_to_utf8(Ovra::logsql::Insert(firstTime + i, Values(i)));
        sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
}

void SetRate(benchmark::State& state, const std::string& name, double records, double seconds) {
    state.counters["records/s"] = records / seconds;
    g_figures[name] = records / seconds;
}

// ---------------------------------------------------------------------------- Inserts

void BM_BatchInsert(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        TempFile file("batch");
        LogService service;
        OpenWithTable(service, file, false);
        // The records are made beforehand, as for the single inserts: the time is the service's.
        std::vector<std::list<LogService::Record>> batches(kBatchRecords / kBatchSize);
        for (int i = 0; i < kBatchRecords; ++i) {
            batches[i / kBatchSize].push_back({1700000000000LL + i, Values(i)});
        }
        state.ResumeTiming();
        const auto start = Clock::now();
        for (const auto& batch : batches) {
            if (service.Insert(batch) != 0) state.SkipWithError("insert failed");
        }
        SetRate(state, "batch", kBatchRecords,
                std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_BatchInsert)->Iterations(1)->Unit(benchmark::kMillisecond);

void SingleInserts(benchmark::State& state, bool writeAhead) {
    for (auto _ : state) {
        state.PauseTiming();
        TempFile file(writeAhead ? "single-wal" : "single");
        LogService service;
        OpenWithTable(service, file, false);
        if (service.EnableWriteAheadLog(writeAhead) != 0) state.SkipWithError("journal mode");
        std::vector<std::list<LogService::FieldData>> records;
        for (int i = 0; i < kSingleRecords; ++i) records.push_back(Values(i));
        state.ResumeTiming();
        const auto start = Clock::now();
        long long time = 1700000000000LL;
        for (const auto& data : records) {
            if (service.Insert(time++, data) != 0) state.SkipWithError("insert failed");
        }
        SetRate(state, writeAhead ? "single-wal" : "single", kSingleRecords,
                std::chrono::duration<double>(Clock::now() - start).count());
    }
}
void BM_SingleInsert(benchmark::State& state) {
    SingleInserts(state, false);
}
void BM_SingleInsertWriteAheadLog(benchmark::State& state) {
    SingleInserts(state, true);
}
BENCHMARK(BM_SingleInsert)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SingleInsertWriteAheadLog)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------- Retention

class RetentionProbe : public LogService {
public:
    using LogService::DeleteOldRecord;
};

// A file with 1,000,000 records two hours old and 100,000 current ones, time-indexed as
// CreateIndex leaves it; made once, copied for each case.
const TempFile& ExpiryTemplate() {
    static TempFile file("expiry-template");
    static bool made = false;
    if (!made) {
        LogService service;
        OpenWithTable(service, file, false);
        service.Close();
        const long long now = Ovra::GetCurTime();
        Fill(file.Utf8(), kExpiredRecords, now - 2 * kHour - kExpiredRecords);
        Fill(file.Utf8(), kFreshRecords, now);
        service.Open(file.Wide());
        service.CreateIndex({MakeField(L"Level", LogVariant::Int32)});
        made = true;
    }
    return file;
}

// Runs one pass on the calling thread while another thread inserts one record at a time and
// times each insert; reports the worst.
void RetentionLatency(benchmark::State& state, unsigned int chunk) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = chunk ? "chunked" : "single-statement";
        TempFile file(name);
        std::filesystem::copy_file(ExpiryTemplate().Utf8(), file.Utf8());
        RetentionProbe service;
        service.Open(file.Wide());
        service.SetRetentionBatchSize(chunk);
        std::atomic<bool> passing{true};
        std::atomic<bool> inserting{false};
        double worstMs = 0;
        long long inserts = 0;
        std::thread inserter([&] {
            inserting = true;
            int i = 0;
            while (passing) {
                const auto start = Clock::now();
                service.Insert(Ovra::GetCurTime(), Values(i++));
                worstMs = std::max(
                    worstMs,
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                ++inserts;
            }
        });
        while (!inserting) std::this_thread::yield();
        state.ResumeTiming();
        const auto start = Clock::now();
        service.DeleteOldRecord();
        const double passSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.PauseTiming();
        passing = false;
        inserter.join();
        unsigned long long left = 0;
        service.GetRecordCount(L"", left);
        if (left != kFreshRecords + static_cast<unsigned long long>(inserts))
            state.SkipWithError("the pass left expired records");
        state.counters["worst_insert_ms"] = worstMs;
        state.counters["inserts_during_pass"] = static_cast<double>(inserts);
        state.counters["pass_s"] = passSeconds;
        g_figures["worst-" + name] = worstMs;
        state.ResumeTiming();
    }
}
void BM_RetentionSingleStatement(benchmark::State& state) {
    RetentionLatency(state, 0);
}
void BM_RetentionChunked(benchmark::State& state) {
    RetentionLatency(state, kRetentionChunk);
}
BENCHMARK(BM_RetentionSingleStatement)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RetentionChunked)->Iterations(1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------- Search memory

long long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0) return std::stoll(line.substr(length + 1));
    }
    return -1;
}

class CountingVisitor : public Ovra::LogSearchVisitor {
public:
    int OnLogRecord(const std::list<LogService::FieldData>& record) override {
        fields += record.size();
        ++records;
        return 0;
    }
    unsigned long long records = 0;
    unsigned long long fields = 0;
};

// In a fresh child process: the peak resident size that one search adds, in kilobytes.
template <typename SearchOnce>
long long PeakGrowthKb(const TempFile& file, SearchOnce search) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        LogService service;
        service.Open(file.Wide());
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak restarts from the current size
        const long long before = StatusKilobytes("VmHWM:");
        const bool complete = search(service);
        const long long growth = complete ? StatusKilobytes("VmHWM:") - before : -1;
        if (write(pipeEnds[1], &growth, sizeof growth) != sizeof growth) _exit(1);
        _exit(0);
    }
    close(pipeEnds[1]);
    long long growth = -1;
    if (read(pipeEnds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return growth;
}

const TempFile& SearchFile() {
    static TempFile file("search");
    static bool made = false;
    if (!made) {
        LogService service;
        OpenWithTable(service, file, false);
        service.Close();
        Fill(file.Utf8(), kSearchRecords, 1700000000000LL);
        made = true;
    }
    return file;
}

void SearchMemory(benchmark::State& state, bool streaming) {
    const TempFile& file = SearchFile();
    for (auto _ : state) {
        const long long kb = PeakGrowthKb(file, [streaming](LogService& service) {
            if (streaming) {
                CountingVisitor visitor;
                return service.Search(L"", visitor) == 0 && visitor.records == kSearchRecords;
            }
            std::list<std::list<LogService::FieldData>> rows;
            return service.Search(L"", rows) == 0 && rows.size() == kSearchRecords;
        });
        if (kb < 0) state.SkipWithError("search failed");
        state.counters["peak_growth_MB"] = kb / 1024.0;
        g_figures[streaming ? "peak-streaming" : "peak-search"] = kb / 1024.0;
    }
}
void BM_SearchPeakMemory(benchmark::State& state) {
    SearchMemory(state, false);
}
void BM_StreamingSearchPeakMemory(benchmark::State& state) {
    SearchMemory(state, true);
}
BENCHMARK(BM_SearchPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamingSearchPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

double Figure(const char* name) {
    const auto it = g_figures.find(name);
    return it == g_figures.end() ? 0 : it->second;
}

double Ratio(double a, double b) {
    return b > 0 ? a / b : 0;
}

void PrintSummary() {
    std::printf("\nsummary (targets in brackets)\n");
    std::printf("  batched inserts, 500 a batch  %9.0f records/s  [>= 100000]\n", Figure("batch"));
    std::printf("  single inserts                %9.0f records/s\n", Figure("single"));
    std::printf("  batched / single              %9.1f x          [>= 15]\n",
                Ratio(Figure("batch"), Figure("single")));
    std::printf("  single inserts, write-ahead   %9.0f records/s\n", Figure("single-wal"));
    std::printf("  write-ahead / journal         %9.1f x\n",
                Ratio(Figure("single-wal"), Figure("single")));
    std::printf("  worst insert during expiry of %d records:\n", kExpiredRecords);
    std::printf("    single statement            %9.1f ms\n", Figure("worst-single-statement"));
    std::printf("    chunks of %u             %9.1f ms     [< 100]\n", kRetentionChunk,
                Figure("worst-chunked"));
    std::printf("    single / chunked            %9.1f x\n",
                Ratio(Figure("worst-single-statement"), Figure("worst-chunked")));
    std::printf("  peak memory growth, %d rows:\n", kSearchRecords);
    std::printf("    Search                      %9.1f MB\n", Figure("peak-search"));
    std::printf("    streaming Search            %9.1f MB     [< 10]\n", Figure("peak-streaming"));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    PrintSummary();
    benchmark::Shutdown();
    return 0;
}
