// How long a report takes from entering the serial link (a pseudo-terminal the bench writes as the
// adapter) to its time of day standing in lblTime: the receive event of the serial link at work.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QLabel>
#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "MainDisplay.h"
#include "PtyWindow.h"

void CloseBenchWindow();

namespace {

void BM_SerialReportToLabelLatency(benchmark::State &state) {
    CloseBenchWindow();  // one window, one receive thread at a time
    PtyWindow pw;
    if (!pw.Ok() || !pw.Find()) {
        state.SkipWithError("the pseudo-terminal was not opened");
        for (auto _ : state) {
        }
        return;
    }
    TfrmMain &w = pw.window();
    constexpr int Samples = 40;
    std::mt19937 random(5);
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < Samples; ++i) {
            WaitUntil([] { return false; }, static_cast<int>(random() % 100));
            BusFrame f;
            f.identifier = static_cast<uint32_t>(i);
            const int minute = i % 60, millisecond = static_cast<int>(random() % 1000);
            const CanReport report = BuildCanReport(f, 8, minute, 0, millisecond);
            const QString expected = ArrivalTimeText(8, minute, 0, millisecond);
            const auto start = std::chrono::steady_clock::now();
            if (::write(pw.Master(), report.data(), report.size()) != static_cast<ssize_t>(report.size())) {
                state.SkipWithError("the terminal did not take the report");
                break;
            }
            if (!WaitUntil([&] { return w.lblTime->text() == expected; }, 2000)) {
                state.SkipWithError("a report never reached the labels");
                break;
            }
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * static_cast<double>(ms.size())))];
    };
    state.counters["median_ms"] = at(0.5);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = ms.back();
    state.counters["samples"] = static_cast<double>(ms.size());
}
BENCHMARK(BM_SerialReportToLabelLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
