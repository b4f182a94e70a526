#include "Latency.h"

#include <QLabel>
#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "MainDisplay.h"

void MeasureReportToLabel(benchmark::State &state, TfrmMain &w, uint32_t seed, int hour,
                          const std::function<bool(const CanReport &report)> &send) {
    constexpr int Samples = 40;
    std::mt19937 random(seed);
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < Samples; ++i) {
            WaitUntil([] { return false; }, static_cast<int>(random() % 100));
            BusFrame f;
            f.identifier = static_cast<uint32_t>(i);
            const int minute = i % 60, millisecond = static_cast<int>(random() % 1000);
            const CanReport report = BuildCanReport(f, hour, minute, 0, millisecond);
            const QString expected = ArrivalTimeText(hour, minute, 0, millisecond);
            const auto start = std::chrono::steady_clock::now();
            if (!send(report)) {
                state.SkipWithError("the link did not take the report");
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
