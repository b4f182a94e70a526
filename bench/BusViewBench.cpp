// The receive list at a saturated bus: 21,300 frames/s over 2,000 identifiers (1,500 of 11 bits, 500 of
// 29), read 213 at a time every 10 ms. What one frame costs the receive thread in ReceiveTable::Add, and
// what one refresh (every 100 ms) costs the window thread: the snapshot, the model and proxy sorted by
// cycle time, and the repaint of the shown window. Then the same refresh with a DBC of 500 messages naming
// every row, with the rows collapsed and with every row expanded into its decoded signals.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>
#include <array>
#include <vector>

#include "DbcReader.h"
#include "GeneratedDbc.h"
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

// 21,300 frames/s round the 500 messages of GeneratedDbc (half 11-bit, half 29-bit), each with new data,
// so that every row's data changes between two refreshes and an expanded row is decoded at each.
class DbcBus {
public:
    static constexpr int Messages = 500;
    std::span<const BusEvent> NextRead() {
        for (BusEvent &e : read_) {
            const int i = static_cast<int>(n_ % Messages);
            e.extended = i % 2 != 0;
            e.id =
                e.extended ? 0x18F00000u + static_cast<uint32_t>(i) : 0x100u + static_cast<uint32_t>(i / 2);
            e.dlc = 8;
            for (uint8_t &b : e.data) b = static_cast<uint8_t>((seed_ = seed_ * 1103515245 + 12345) >> 16);
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
    uint32_t seed_ = 1;
    int64_t arrivalUs_ = 1'733'655'296'000'000;
};

// Argument 0: no DBC; 1: the DBC, every row collapsed; 2: the DBC, every row expanded. The shown window,
// its events and repaint included.
void BM_ListRefreshDbc(benchmark::State &state) {
    const int mode = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    QFile file(dir.path() + "/generated.dbc");
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QByteArray::fromStdString(GeneratedDbc(DbcBus::Messages))) < 0)
        state.SkipWithError("cannot write the DBC");
    file.close();
    ReceiveTable table;
    DbcBus bus;
    for (int i = 0; i < 100; ++i) table.Add(bus.NextRead());
    ReceiveListWindow list(&table, nullptr, dir.path() + "/receive-list.ini");
    if (mode > 0 && !list.LoadDbc(file.fileName()).isEmpty()) state.SkipWithError("DBC not loaded");
    list.show();
    list.model->Refresh(table, bus.NowUs());
    if (mode == 2)
        for (int row = 0; row < list.proxy->rowCount(); ++row) list.view->expand(list.proxy->index(row, 0));
    QCoreApplication::processEvents();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < ReadsPerRefresh; ++i) table.Add(bus.NextRead());
        state.ResumeTiming();
        list.model->Refresh(table, bus.NowUs());
        QCoreApplication::processEvents();
    }
    if (list.proxy->rowCount() != DbcBus::Messages) state.SkipWithError("rows missing");
    if (mode == 2 && list.model->ExpandedRows().size() != DbcBus::Messages)
        state.SkipWithError("rows not expanded");
    state.counters["s/refresh"] = benchmark::Counter(
        static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListRefreshDbc)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// What plotting costs the receive thread: the table's Add at 21,300 frames/s round the DBC's 500 messages,
// with 0 or 16 signals picked (Speed of the first 16 messages: 3.2 % of the frames carry one).
void BM_ListAddFramesPlotted(benchmark::State &state) {
    const auto loaded = dbc::ParseDbc(GeneratedDbc(DbcBus::Messages), "generated.dbc");
    ReceiveTable table;
    for (int i = 0; i < state.range(0); ++i) {
        const dbc::Message &m = loaded.database->messages[static_cast<std::size_t>(i)];
        table.Sampler().Pick({loaded.database, &m, &m.signalList[3]});
    }
    std::vector<busview::PlotPoint> drained(busview::SignalSampler::RingPoints);
    DbcBus bus;
    int64_t frames = 0;
    for (auto _ : state) {
        table.Add(bus.NextRead());
        frames += PerRead;
        if (frames % (PerRead * 10) == 0)  // the plot drains every 100 ms
            for (int slot = 0; slot < state.range(0); ++slot) {
                uint64_t lost = 0;
                table.Sampler().Drain(slot, drained, lost);
            }
    }
    state.counters["s/frame"] = benchmark::Counter(static_cast<double>(frames),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListAddFramesPlotted)->Arg(0)->Arg(16);

}  // namespace
