// Every value of a few picked signals, for the plot: the list's table shows only each identifier's last
// frame, but a plot needs them all. On the receive thread, the frames whose identifier carries a picked
// signal have that signal decoded (nothing else is), and the value goes with its time into a fixed ring of
// the signal's own; the plot drains the rings on its timer.
//
// Time: seconds since the first sample after nothing was picked, from the adapter's own millisecond
// stamps, counted across midnight (AdapterMsBetween). The times never go back: a stamp at most
// OutOfOrderMs earlier than the last one counts as the last one's time; one further back means the
// adapter's clock was set, and time goes on from the last one's. A frame without a stamp takes the PC's
// clock since the last stamped frame.
//
//   picked: ENGINE_DATA.RPM (0x202)   frames 0x202 @ 23:59:59.990, 0x100, 0x202 @ 00:00:00.040
//     -> ring of RPM: (0.000 s, 2000 rpm), (0.050 s, 2012.5 rpm)
//
// Threads: Add on the receive thread (allocates nothing; with nothing picked it reads one atomic and
// returns); Pick, Unpick and Drain on the window thread. One mutex, held by Add for a batch and by the
// others for one call; the rings are allocated at the first Pick.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "BusEvent.h"
#include "Database.h"

namespace busview {

struct PlotPoint {
    double seconds = 0;
    double value = 0;
};

struct PlotPick {
    std::shared_ptr<const dbc::Database> database;  // keeps message and signal alive while picked
    const dbc::Message *message = nullptr;
    const dbc::Signal *signal = nullptr;
};

class SignalSampler {
public:
    static constexpr int MaxPicks = 16;
    // Between two drains (100 ms): a signal in every frame of a saturated 1 Mbit/s bus needs under 1,000.
    static constexpr std::size_t RingPoints = 8192;
    static constexpr int32_t OutOfOrderMs = 1000;

    SignalSampler();
    ~SignalSampler();
    SignalSampler(const SignalSampler &) = delete;
    SignalSampler &operator=(const SignalSampler &) = delete;

    // The slot the signal is sampled into (the one it has when picked already); -1 when MaxPicks signals
    // are picked.
    int Pick(const PlotPick &pick);
    void Unpick(const dbc::Signal *signal);
    // Nothing picked any more; the next sample starts the time at 0 again.
    void UnpickAll();
    int SlotOf(const dbc::Signal *signal) const;

    void Add(std::span<const BusEvent> batch);
    bool Active() const { return picked_.load(std::memory_order_relaxed) > 0; }

    // The points of `slot` since its last Drain, oldest first, as many as fit into `out` (the rest wait
    // for the next call); `lost` grows by the points the ring overwrote before they were drained.
    std::size_t Drain(int slot, std::span<PlotPoint> out, uint64_t &lost);

private:
    struct Slot {
        PlotPick pick;
        uint64_t written = 0, read = 0;
    };
    double TimeOf(const BusEvent &event);

    std::atomic<int> picked_{0};
    mutable std::mutex mutex_;
    Slot slots_[MaxPicks];
    std::unique_ptr<PlotPoint[]> rings_;  // MaxPicks x RingPoints
    // The clock: the last stamped frame's stamp and arrival, and its time on the plot.
    bool started_ = false;
    int32_t lastMs_ = -1;
    int64_t lastArrivalUs_ = 0;
    int64_t elapsedMs_ = 0;
};

}  // namespace busview
