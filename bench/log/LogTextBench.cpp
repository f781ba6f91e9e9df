// The full-text index against the same LIKE over 1,000,000 records: latency (p50, p95) of a word
// query and of a phrase query, each search streaming every match, and the index's size.

#include <Ovra/LogService.h>

#include "BenchSupport.h"
#include "src/log/LogStatements.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using logbench::MakeField;
using Ovra::LogService;
using Ovra::LogVariant;

const int kRecords = 1000000;
const int kBatch = 5000;
const int kVocabulary = 5000;  // w0000 ... w4999, three per message
const wchar_t* const kSubjects[] = {L"motion", L"tamper", L"audio", L"video", L"line",
                                    L"face",   L"plate",  L"smoke", L"door",  L"intrusion"};
const wchar_t* const kEvents[] = {L"detected", L"alarm", L"loss", L"crossing", L"match"};

long long UsedBytes(const std::string& path) {
    sqlite3* db = nullptr;
    long long bytes = 0;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(
        db, Ovra::logsql::kUsedBytesQuery,
        [](void* out, int, char** values, char**) {
            *static_cast<long long*>(out) = std::atoll(values[0]);
            return 0;
        },
        &bytes, nullptr);
    sqlite3_close(db);
    return bytes;
}

// One file for every benchmark: "<subject> <event> on camera N zone Z wA wB wC".
struct Corpus {
    Corpus() : file("text") {
        service.Open(file.Wide());
        service.Create(
            {MakeField(L"Camera", LogVariant::Int32), MakeField(L"Msg", LogVariant::Text)});
        std::mt19937 random(42);
        std::list<LogService::Record> batch;
        wchar_t text[128];
        for (int i = 0; i < kRecords; ++i) {
            const int camera = static_cast<int>(random() % 64);
            std::swprintf(text, 128, L"%ls %ls on camera %d zone %u w%04u w%04u w%04u",
                          kSubjects[random() % 10], kEvents[random() % 5], camera, random() % 16,
                          random() % kVocabulary, random() % kVocabulary, random() % kVocabulary);
            batch.push_back({1700000000000LL + i,
                             {{L"Camera", LogVariant(camera)}, {L"Msg", LogVariant(text)}}});
            if (batch.size() == kBatch) service.Insert(batch), batch.clear();
        }
        const long long before = UsedBytes(file.Utf8());
        service.CreateTextIndex({L"Msg"});
        indexBytes = UsedBytes(file.Utf8()) - before;
        std::printf("%d records, table %lld bytes, text index %lld bytes\n", kRecords, before,
                    indexBytes);
    }
    logbench::TempFile file;
    LogService service;
    long long indexBytes = 0;
};

Corpus& Shared() {
    static Corpus corpus;
    return corpus;
}

struct Counter : Ovra::LogSearchVisitor {
    int OnLogRecord(const std::list<LogService::FieldData>&) override {
        ++hits;
        return 0;
    }
    long long hits = 0;
};

// Times each search; p50 and p95 in milliseconds as counters.
template <typename Search>
void Measure(benchmark::State& state, Search search) {
    Corpus& corpus = Shared();
    std::vector<double> ms;
    long long hits = 0;
    for (auto _ : state) {
        Counter counter;
        const auto start = std::chrono::steady_clock::now();
        if (search(corpus.service, counter) != 0) state.SkipWithError("search failed");
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        hits = counter.hits;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    state.counters["hits"] = static_cast<double>(hits);
    state.counters["index_bytes"] = static_cast<double>(corpus.indexBytes);
}

void BM_TextWord(benchmark::State& state) {
    Measure(state, [](LogService& s, Counter& c) { return s.SearchText(L"w1234", c); });
}
void BM_LikeWord(benchmark::State& state) {
    Measure(state,
            [](LogService& s, Counter& c) { return s.Search(L"where Msg like '%w1234%'", c); });
}
void BM_TextPhrase(benchmark::State& state) {
    Measure(state, [](LogService& s, Counter& c) { return s.SearchText(L"\"tamper alarm\"", c); });
}
void BM_LikePhrase(benchmark::State& state) {
    Measure(state, [](LogService& s, Counter& c) {
        return s.Search(L"where Msg like '%tamper alarm%'", c);
    });
}
BENCHMARK(BM_TextWord)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LikeWord)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextPhrase)->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LikePhrase)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
