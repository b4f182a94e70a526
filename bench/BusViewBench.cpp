// The receive list at a saturated bus: 21,300 frames/s over 2,000 identifiers (1,500 of 11 bits, 500 of
// 29), read 213 at a time every 10 ms. What one frame costs the receive thread in ReceiveTable::Add, and
// what one refresh (every 100 ms) costs the window thread: the snapshot, the model and proxy sorted by
// cycle time, and the repaint of the shown window.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTableView>
#include <QTemporaryDir>
#include <array>
#include <vector>

#include "ReceiveListWindow.h"
#include "ReceiveTable.h"

namespace {

using busview::ReceiveTable;

constexpr int Ids = 2000, FramesPerSecond = 21'300, PerRead = 213, ReadsPerRefresh = 10;

// Frames in the order a bus carries them: the identifiers in turn, each stamped with its time on the bus.
class Bus {
public:
    std::span<const BusEvent> NextRead() {
        for (BusEvent &e : read_) {
            const uint32_t k = static_cast<uint32_t>(n_ % Ids);
            e.extended = k >= 1500;
            e.id = e.extended ? 0x18FE0000 + k : k;
            e.dlc = 8;
            e.data[0] = static_cast<uint8_t>(n_ / Ids);
            e.data[7] = static_cast<uint8_t>(k);
            e.adapterMs = static_cast<int32_t>(n_ * 1000 / FramesPerSecond % BusEvent::MsPerDay);
            e.arrivalUs = arrivalUs_;
            ++n_;
        }
        arrivalUs_ += 10'000;
        return read_;
    }
    int64_t NowUs() const { return arrivalUs_; }

private:
    std::array<BusEvent, PerRead> read_{};
    int64_t n_ = 0;
    int64_t arrivalUs_ = 1'733'655'296'000'000;
};

void BM_ListAddFrames(benchmark::State &state) {
    ReceiveTable table;
    Bus bus;
    int64_t frames = 0;
    for (auto _ : state) {
        table.Add(bus.NextRead());
        frames += PerRead;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["s/frame"] = benchmark::Counter(static_cast<double>(frames),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListAddFrames);

// Argument 0: the model and its proxy alone; 1: the shown window, its events and repaint included.
void BM_ListRefresh(benchmark::State &state) {
    const bool window = state.range(0) != 0;
    QTemporaryDir dir;
    ReceiveTable table;
    Bus bus;
    for (int i = 0; i < 100; ++i) table.Add(bus.NextRead());  // a second of traffic: every row exists
    ReceiveListWindow list(&table, nullptr, dir.path() + "/receive-list.ini");
    list.view->sortByColumn(ReceiveListModel::ColCycle, Qt::AscendingOrder);
    if (window) {
        list.show();
        QCoreApplication::processEvents();
    }
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < ReadsPerRefresh; ++i) table.Add(bus.NextRead());
        state.ResumeTiming();
        list.model->Refresh(table, bus.NowUs());
        if (window) QCoreApplication::processEvents();
    }
    if (list.proxy->rowCount() != Ids) state.SkipWithError("rows missing");
    state.counters["s/refresh"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListRefresh)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
