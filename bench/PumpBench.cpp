// The whole receive path into a real window: read, cut, decode, labels and counters, on the window
// thread (Ctrl+R) and through the receive thread; and how long a report takes to reach the labels with
// the 100 ms poll.
#include <benchmark/benchmark.h>

#include <QAction>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "Latency.h"
#include "D2XXUnit.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "SimAdapter.h"
#include "UnitThread.h"

namespace {

// 16384 reports are exactly 13 full reads, so no read waits for the link's read time-out.
constexpr long BatchReports = 16384;
static_assert(BatchReports * CanReportSize % LinkBufferSize == 0);
constexpr int BatchReads = static_cast<int>(BatchReports * CanReportSize / LinkBufferSize);

std::unique_ptr<SimWindow> benchWindow;
bool benchAdapterFound = false;

// The window every benchmark here shares; nullptr, with the benchmark marked failed, when the emulated
// adapter was not found. A benchmark leaves at once then, and leaves its loop at the first error: timing
// must not be paused or resumed after one.
SimWindow *Window(benchmark::State &state) {
    if (!benchWindow) {
        benchWindow = std::make_unique<SimWindow>();
        benchAdapterFound = benchWindow->PlugAndFind();
    }
    if (!benchAdapterFound) {
        state.SkipWithError("the emulated adapter was not found");
        return nullptr;
    }
    return benchWindow.get();
}

const std::vector<uint8_t> &Batch() {
    static const std::vector<uint8_t> batch = MakeReports(BatchReports, 2);
    return batch;
}

bool InjectBatch() {
    const auto &b = Batch();
    return TheSimAdapter().InjectToHost(b.data(), b.size()) == b.size();
}

bool AllShown(TfrmMain &w) {
    return MessageCount.load() == BatchReports && w.lblMessCount->text() == QString::number(BatchReports) &&
           TheSimAdapter().BytesToHost() == 0;
}

void SetPumpRate(benchmark::State &state) {
    state.counters["reports/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * BatchReports,
                                                     benchmark::Counter::kIsRate);
}

void BM_PumpWindowThread(benchmark::State &state) {
    SimWindow *sw = Window(state);
    if (!sw) return;
    TfrmMain &w = sw->window();
    // Only this thread pumps. The presence watch is stopped; the receive thread makes no link call while
    // the adapter counts as absent, and a pass it began before is over once the pump lock has been had.
    w.Timer1->stop();
    DevicePresent.store(false);
    { std::lock_guard settled(PumpMutex); }
    for (auto _ : state) {
        state.PauseTiming();
        w.btnClearClick();
        if (!InjectBatch()) {
            state.SkipWithError("the emulated link is full");
            break;
        }
        state.ResumeTiming();
        // Ctrl+R stands back when the receive thread holds the pump lock for an idle pass at that moment,
        // so it is pressed until the link is empty rather than a fixed number of times.
        for (int presses = 0; TheSimAdapter().BytesToHost() > 0 && presses < 100 * BatchReads; ++presses)
            w.FTReceiveFileExecute();
        state.PauseTiming();
        if (!AllShown(w)) {
            state.SkipWithError("a report was lost");
            break;
        }
        state.ResumeTiming();
    }
    SetPumpRate(state);
    DevicePresent.store(true);
    w.Timer1->start(PresenceTickMs);
}
BENCHMARK(BM_PumpWindowThread)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PumpReceiveThread(benchmark::State &state) {
    SimWindow *sw = Window(state);
    if (!sw) return;
    TfrmMain &w = sw->window();
    for (auto _ : state) {
        state.PauseTiming();
        w.btnClearClick();
        {
            // The batch lands whole before the receive thread may look, then wakes it.
            std::lock_guard hold(PumpMutex);
            if (!InjectBatch()) {
                state.SkipWithError("the emulated link is full");
                break;
            }
            state.ResumeTiming();
            RxEvent().Set();
        }
        if (!WaitUntil([&] { return AllShown(w); }, 5000)) {
            state.SkipWithError("a report was lost");
            break;
        }
    }
    SetPumpRate(state);
}
BENCHMARK(BM_PumpReceiveThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// From the report entering the emulated link to its time of day standing in lblTime.
void BM_ReportToLabelLatency(benchmark::State &state) {
    SimWindow *sw = Window(state);
    if (!sw) {
        for (auto _ : state) {
        }
        return;
    }
    MeasureReportToLabel(state, sw->window(), 3, 7, [](const CanReport &report) {
        return TheSimAdapter().InjectToHost(report.data(), report.size()) == report.size();
    });
}
BENCHMARK(BM_ReportToLabelLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

void CloseBenchWindow() { benchWindow.reset(); }
