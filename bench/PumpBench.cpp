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

// From the report entering the link to its time of day standing in lblTime. The reports are sent at
// random moments, so they fall anywhere in the receive thread's 100 ms poll.
void BM_ReportToLabelLatency(benchmark::State &state) {
    SimWindow *sw = Window(state);
    if (!sw) return;
    TfrmMain &w = sw->window();
    constexpr int Samples = 40;
    std::mt19937 random(3);
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < Samples; ++i) {
            WaitUntil([] { return false; }, static_cast<int>(random() % 100));
            BusFrame f;
            f.identifier = static_cast<uint32_t>(i);
            const int minute = i % 60, millisecond = static_cast<int>(random() % 1000);
            const CanReport report = BuildCanReport(f, 7, minute, 0, millisecond);
            const QString expected = ArrivalTimeText(7, minute, 0, millisecond);
            const auto start = std::chrono::steady_clock::now();
            if (TheSimAdapter().InjectToHost(report.data(), report.size()) != report.size()) {
                state.SkipWithError("link full");
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
BENCHMARK(BM_ReportToLabelLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

void CloseBenchWindow() { benchWindow.reset(); }
