// How close libntp's measured offset comes to the truth. chronyd on loopback serves this machine's
// own clock, so the true offset is 0 and every nanosecond measured is error (client and server
// time-stamping, asymmetry of the path). Also reports the round trip, and the whole query's time
// against it: what the client costs on top of the network.

#include <benchmark/benchmark.h>
#include <ntp/Ntp.h>

#include "tests/support/ChronyServer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

NtpTest::ChronyServer g_server;
bool g_serverUp = false;
std::string g_serverError;

struct Summary {
    std::string family;
    std::size_t queries = 0;
    int failures = 0;
    double offsetMedianUs = 0, offsetWorstUs = 0, offsetBiasUs = 0;
    double rttMedianUs = 0, rttWorstUs = 0, queryUs = 0;
};
std::vector<Summary> g_summaries;

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void BM_QueryChrony(benchmark::State& state) {
    if (!g_serverUp) {
        state.SkipWithError(g_serverError.c_str());
        return;
    }
    const bool ipv6 = state.range(0) == 6;
    const std::wstring address = ipv6 ? g_server.Ipv6() : g_server.Ipv4();
    std::vector<double> offsets, absOffsets, delays;
    int failures = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        NtpResult result;
        if (GetNtpTimeEx(address.c_str(), 3000, &result) != NTP_OK) {
            ++failures;
            continue;
        }
        offsets.push_back(result.offsetNs / 1e3);
        absOffsets.push_back(std::fabs(result.offsetNs / 1e3));
        delays.push_back(result.delayNs / 1e3);
    }
    const double elapsedUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();

    Summary s;
    s.family = ipv6 ? "IPv6 [::1]" : "IPv4 127.0.0.1";
    s.queries = static_cast<std::size_t>(state.iterations());
    s.failures = failures;
    s.offsetMedianUs = Median(absOffsets);
    s.offsetWorstUs =
        absOffsets.empty() ? 0 : *std::max_element(absOffsets.begin(), absOffsets.end());
    s.offsetBiasUs = Median(offsets);
    s.rttMedianUs = Median(delays);
    s.rttWorstUs = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());
    s.queryUs = s.queries ? elapsedUs / static_cast<double>(s.queries) : 0;
    g_summaries.push_back(s);

    state.counters["offset_abs_median_us"] = s.offsetMedianUs;
    state.counters["offset_abs_worst_us"] = s.offsetWorstUs;
    state.counters["offset_median_us"] = s.offsetBiasUs;
    state.counters["rtt_median_us"] = s.rttMedianUs;
    state.counters["rtt_worst_us"] = s.rttWorstUs;
    state.counters["query_per_rtt"] = s.rttMedianUs > 0 ? s.queryUs / s.rttMedianUs : 0;
    state.counters["failures"] = failures;
}
BENCHMARK(BM_QueryChrony)
    ->ArgName("ip")
    ->Arg(4)
    ->Arg(6)
    ->Iterations(5000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    g_serverUp = g_server.Start(true, g_serverError);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nlibntp against chronyd on loopback (true offset 0 us):\n");
    for (const Summary& s : g_summaries) {
        std::printf(
            "  %-15s %zu queries, %d failed | |offset| median %.1f us, worst %.1f us, median "
            "signed %.1f us | round trip median %.1f us, worst %.1f us | query %.1f us = %.1fx "
            "round trip\n",
            s.family.c_str(), s.queries, s.failures, s.offsetMedianUs, s.offsetWorstUs,
            s.offsetBiasUs, s.rttMedianUs, s.rttWorstUs, s.queryUs,
            s.rttMedianUs > 0 ? s.queryUs / s.rttMedianUs : 0.0);
    }
    if (!g_serverUp) std::printf("  chronyd did not start: %s\n", g_serverError.c_str());
    return g_serverUp ? 0 : 1;
}
