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
#include "Latency.h"
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
    const int fd = pw.Master();
    MeasureReportToLabel(state, pw.window(), 5, 8, [fd](const CanReport &report) {
        return ::write(fd, report.data(), report.size()) == static_cast<ssize_t>(report.size());
    });
}
BENCHMARK(BM_SerialReportToLabelLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
