// The receive list's table: one row per identifier and form (11-bit / 29-bit, data / remote) with the
// last length and data, the count, the cycle time and its jitter from the adapter's own millisecond
// stamps, when each byte last changed; one row per kind of bus error; and the bus load meter.
//
// Fixed size, allocated once by the constructor: a row for each of the 2048 standard identifiers in each
// form, and up to ExtendedRows rows for 29-bit identifiers and forms (open addressing on the identifier);
// a 29-bit identifier that finds the table full is counted in the one OtherRow, so the counts still add
// up to every frame received. Rows are kept in the order their identifier was first seen, and stay at
// their place until Clear.
//
// Threads: the receive thread calls Add with each read's batch; it locks the table for at most
// AddChunk events at a time, allocates nothing and never waits for anything but that lock. Any other
// thread (the window's timer, the gateway's) calls Take into a ReceiveSnapshot it allocated once: under
// the same lock Take copies only the rows that changed since that snapshot's previous Take, so the lock
// is held for microseconds. Clear may be called from any thread. Pausing is the reader's business: it
// stops taking snapshots (or keeps its last one) while Add goes on counting underneath. Add also hands the
// batch to the plot's sampler, which costs one atomic read while no signal is picked.
//
//   ReceiveTable table;                 ReceiveSnapshot view;             (each allocated once)
//   receive thread: table.Add(batch);   timer: table.Take(view, ReceiveTable::NowUs()); show view.Rows()
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "BusEvent.h"
#include "BusLoad.h"
#include "SignalSampler.h"

namespace busview {

constexpr int StandardIds = 2048;
constexpr int StandardRows = 2 * StandardIds;  // data and remote form of each 11-bit identifier
constexpr int ExtendedRows = 4096;             // 29-bit identifiers and forms
constexpr int OtherRow = StandardRows + ExtendedRows;
constexpr int RowCapacity = OtherRow + 1;
constexpr int PeriodHistory = 16;  // the cycle time is the mean of this many periods

// The adapter's bus error flags, one row each; NoFlag counts reports that name none of them.
enum class ErrorKind : uint8_t { Stuff, Crc, Form, Ack, NoFlag };
constexpr int ErrorKinds = 5;

struct FrameRow {
    uint32_t id = 0;  // the last frame's identifier in OtherRow
    bool extended = false;
    bool remote = false;
    bool other = false;  // OtherRow: every 29-bit identifier that found the table full
    uint8_t dlc = 0;     // the last frame's length code as the adapter gave it
    uint8_t data[8]{};
    uint8_t periodCount = 0;  // valid entries of periods (the newest at periodNext - 1)
    uint8_t periodNext = 0;
    int32_t periods[PeriodHistory]{};  // ms between frames by the adapter's stamps
    int32_t lastAdapterMs = -1;        // -1: no stamp yet
    uint64_t count = 0;
    int64_t lastArrivalUs = 0;  // the PC's clock when the last frame's read returned
    int64_t changedAtUs[8]{};   // arrival of the last frame that changed each byte; 0 = none since first
};

struct ErrorRow {
    uint64_t count = 0;
    int64_t lastArrivalUs = 0;
};

// The cycle time of a row: the mean of its last periods, and the shortest and the longest of them.
struct CycleStats {
    bool known = false;  // at least one period between two stamped frames
    double meanMs = 0;
    int32_t minMs = 0;
    int32_t maxMs = 0;
};
CycleStats CycleOf(const FrameRow &row);

// Greyed: not seen for 3 cycle times (at least StaleFloorUs: the PC sees frames a read at a time and
// the list refreshes every 100 ms, so a 10 ms frame would otherwise flicker), or for 2 s while no cycle
// time is known.
constexpr int64_t StaleFloorUs = 300'000;
constexpr int64_t StaleUnknownCycleUs = 2'000'000;
bool IsStale(const FrameRow &row, int64_t nowUs);

// How bright byte i's highlight is: 255 as it changes, fading to 0 over FadeUs.
constexpr int64_t FadeUs = 1'000'000;
int ByteFade(const FrameRow &row, int byte, int64_t nowUs);

class ReceiveSnapshot {
public:
    ReceiveSnapshot();

    // The rows in the order their identifier was first seen; OtherRow appears when it counted a frame.
    std::span<const FrameRow> Rows() const { return {rows_.get(), size_}; }
    const ErrorRow &Error(ErrorKind kind) const { return errors_[static_cast<int>(kind)]; }
    const LoadFigures &Load() const { return load_; }
    int64_t NowUs() const { return nowUs_; }  // the clock the last Take was given
    // What the last Take changed: every row (the table was cleared, or this is the first Take), or the
    // rows from RowsBefore() on were added and the ones before kept their place.
    bool WasReset() const { return reset_; }
    std::size_t RowsBefore() const { return rowsBefore_; }

private:
    friend class ReceiveTable;
    std::unique_ptr<FrameRow[]> rows_;
    std::size_t size_ = 0;
    std::size_t rowsBefore_ = 0;
    bool reset_ = true;
    uint64_t seenSequence_ = 0;
    uint64_t generation_ = 0;  // the table's Clear count this snapshot's rows belong to; 0: none yet
    ErrorRow errors_[ErrorKinds]{};
    LoadFigures load_;
    int64_t nowUs_ = 0;
};

class ReceiveTable {
public:
    static constexpr std::size_t AddChunk = 64;

    ReceiveTable();
    ~ReceiveTable();
    ReceiveTable(const ReceiveTable &) = delete;
    ReceiveTable &operator=(const ReceiveTable &) = delete;

    // One read's events: frames into their rows, bus error reports into theirs, both into the load meter;
    // command reports are not the bus's and are passed over.
    void Add(std::span<const BusEvent> batch);
    // Brings `into` up to date at the clock `nowUs` (the PC's clock in the same microseconds as
    // BusEvent::arrivalUs: NowUs()).
    void Take(ReceiveSnapshot &into, int64_t nowUs);
    // The load meter's figures at `nowUs` without the rows: what a paused list still shows.
    LoadFigures Load(int64_t nowUs);
    // Forgets every row and error count and starts the load peak again; the load of the last second is
    // the bus's and stays.
    void Clear();

    static int64_t NowUs();

    // The picked signals' every value, for the plot: Add feeds it each batch (see SignalSampler.h).
    SignalSampler &Sampler() { return sampler_; }

private:
    struct Impl;
    void AddFrame(const BusEvent &event, int bits);
    void AddError(const BusEvent &event);
    int RowOf(const BusEvent &event);

    std::mutex mutex_;
    std::unique_ptr<Impl> impl_;
    SignalSampler sampler_;
};

}  // namespace busview
