#include "ReceiveTable.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "Frame.h"
#include "FrameLength.h"

namespace busview {

namespace {

// Twice the 29-bit rows: a probe run stays short while the table fills.
constexpr int ExtendedSlots = 2 * ExtendedRows;
constexpr int ExtendedSlotBits = 13;
static_assert(1 << ExtendedSlotBits == ExtendedSlots);
constexpr uint16_t EmptySlot = 0xFFFF;
static_assert(RowCapacity < EmptySlot);

// Unique across tables, so that a snapshot never mistakes one table's rows for another's.
std::atomic<uint64_t> NextGeneration{1};

int ExtendedSlotOf(uint32_t id, bool remote) {
    const uint32_t key = (id & 0x1FFFFFFF) | (remote ? 1u << 29 : 0);
    return static_cast<int>((key * 0x9E3779B1u) >> (32 - ExtendedSlotBits));
}

}  // namespace

struct ReceiveTable::Impl {
    FrameRow rows[RowCapacity];
    uint64_t rowSequence[RowCapacity]{};  // `sequence` when the row last changed; 0 = unused
    uint16_t order[RowCapacity]{};        // row indices in the order first seen
    int used = 0;
    uint16_t extendedSlots[ExtendedSlots];
    int extendedUsed = 0;
    ErrorRow errors[ErrorKinds]{};
    LoadMeter meter;
    uint64_t sequence = 0;
    uint64_t generation = NextGeneration.fetch_add(1);

    Impl() { std::fill(std::begin(extendedSlots), std::end(extendedSlots), EmptySlot); }
};

ReceiveSnapshot::ReceiveSnapshot() : rows_(std::make_unique<FrameRow[]>(RowCapacity)) {}

ReceiveTable::ReceiveTable() : impl_(std::make_unique<Impl>()) {}
ReceiveTable::~ReceiveTable() = default;

int64_t ReceiveTable::NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void ReceiveTable::Add(std::span<const BusEvent> batch) {
    sampler_.Add(batch);
    // The wire lengths (the costly part) are worked out before taking the lock.
    int16_t bits[AddChunk];
    for (std::size_t start = 0; start < batch.size(); start += AddChunk) {
        const std::span<const BusEvent> chunk =
            batch.subspan(start, std::min(AddChunk, batch.size() - start));
        for (std::size_t i = 0; i < chunk.size(); ++i)
            bits[i] = static_cast<int16_t>(FrameBitsOnWire(chunk[i]));
        const std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (chunk[i].kind == BusEvent::Kind::Frame)
                AddFrame(chunk[i], bits[i]);
            else if (chunk[i].kind == BusEvent::Kind::BusError)
                AddError(chunk[i]);
        }
    }
}

int ReceiveTable::RowOf(const BusEvent &event) {
    if (!event.extended) return static_cast<int>(event.id & 0x7FF) * 2 + (event.remote ? 1 : 0);
    Impl &t = *impl_;
    const uint32_t id = event.id & 0x1FFFFFFF;
    for (int slot = ExtendedSlotOf(id, event.remote);; slot = (slot + 1) % ExtendedSlots) {
        const uint16_t row = t.extendedSlots[slot];
        if (row == EmptySlot) {
            if (t.extendedUsed == ExtendedRows) return OtherRow;
            t.extendedSlots[slot] = static_cast<uint16_t>(StandardRows + t.extendedUsed++);
            return t.extendedSlots[slot];
        }
        if (t.rows[row].id == id && t.rows[row].remote == event.remote) return row;
    }
}

void ReceiveTable::AddFrame(const BusEvent &event, int bits) {
    Impl &t = *impl_;
    const int index = RowOf(event);
    FrameRow &row = t.rows[index];
    if (row.count == 0) {
        t.order[t.used++] = static_cast<uint16_t>(index);
        row.other = index == OtherRow;
    }
    if (!row.other && row.count > 0 && !event.remote) {
        const int oldLength = std::min<int>(row.dlc, 8);
        for (int i = 0; i < event.DataLength(); ++i)
            if (i >= oldLength || event.data[i] != row.data[i]) row.changedAtUs[i] = event.arrivalUs;
    }
    if (!row.other && event.adapterMs >= 0 && event.adapterMs < BusEvent::MsPerDay) {
        if (row.lastAdapterMs >= 0) {
            const int32_t period = AdapterMsBetween(row.lastAdapterMs, event.adapterMs);
            if (period > BusEvent::MsPerDay / 2) {
                // The adapter's clock was set back (or the row slept half a day): start the history again.
                row.periodCount = 0;
                row.periodNext = 0;
            } else {
                row.periods[row.periodNext] = period;
                row.periodNext = static_cast<uint8_t>((row.periodNext + 1) % PeriodHistory);
                row.periodCount = static_cast<uint8_t>(std::min(row.periodCount + 1, PeriodHistory));
            }
        }
        row.lastAdapterMs = event.adapterMs;
    }
    row.id = event.id & (event.extended ? 0x1FFFFFFF : 0x7FF);
    row.extended = event.extended;
    row.remote = event.remote;
    row.dlc = event.dlc;
    std::memcpy(row.data, event.data, sizeof row.data);
    ++row.count;
    row.lastArrivalUs = event.arrivalUs;
    t.rowSequence[index] = ++t.sequence;
    t.meter.AddFrame(event.arrivalUs, bits);
}

void ReceiveTable::AddError(const BusEvent &event) {
    Impl &t = *impl_;
    using namespace buserror;
    const struct {
        uint8_t bit;
        ErrorKind kind;
    } kinds[] = {{StuffBit, ErrorKind::Stuff},
                 {CrcBit, ErrorKind::Crc},
                 {FormBit, ErrorKind::Form},
                 {AckBit, ErrorKind::Ack}};
    bool named = false;
    auto count = [&](ErrorKind kind) {
        ErrorRow &row = t.errors[static_cast<int>(kind)];
        ++row.count;
        row.lastArrivalUs = event.arrivalUs;
    };
    for (const auto &k : kinds)
        if (event.errorFlags & k.bit) {
            count(k.kind);
            named = true;
        }
    if (!named) count(ErrorKind::NoFlag);
    t.meter.AddError(event.arrivalUs);
}

void ReceiveTable::Take(ReceiveSnapshot &into, int64_t nowUs) {
    const std::lock_guard lock(mutex_);
    Impl &t = *impl_;
    t.meter.Advance(nowUs);
    into.load_ = t.meter.Figures();
    into.nowUs_ = nowUs;
    std::copy(std::begin(t.errors), std::end(t.errors), std::begin(into.errors_));
    into.reset_ = into.generation_ != t.generation;
    if (into.reset_) {
        into.size_ = 0;
        into.seenSequence_ = 0;
        into.generation_ = t.generation;
    }
    into.rowsBefore_ = into.size_;
    for (int k = 0; k < t.used; ++k) {
        const int index = t.order[k];
        if (t.rowSequence[index] > into.seenSequence_) into.rows_[k] = t.rows[index];
    }
    into.size_ = static_cast<std::size_t>(t.used);
    into.seenSequence_ = t.sequence;
}

LoadFigures ReceiveTable::Load(int64_t nowUs) {
    const std::lock_guard lock(mutex_);
    impl_->meter.Advance(nowUs);
    return impl_->meter.Figures();
}

void ReceiveTable::Clear() {
    const std::lock_guard lock(mutex_);
    Impl &t = *impl_;
    for (int k = 0; k < t.used; ++k) {
        t.rows[t.order[k]] = FrameRow{};
        t.rowSequence[t.order[k]] = 0;
    }
    t.used = 0;
    std::fill(std::begin(t.extendedSlots), std::end(t.extendedSlots), EmptySlot);
    t.extendedUsed = 0;
    std::fill(std::begin(t.errors), std::end(t.errors), ErrorRow{});
    t.meter.ClearPeak();
    t.generation = NextGeneration.fetch_add(1);
}

CycleStats CycleOf(const FrameRow &row) {
    CycleStats stats;
    if (row.periodCount == 0) return stats;
    int64_t sum = 0;
    stats.minMs = stats.maxMs = row.periods[0];
    for (int i = 0; i < row.periodCount; ++i) {
        sum += row.periods[i];
        stats.minMs = std::min(stats.minMs, row.periods[i]);
        stats.maxMs = std::max(stats.maxMs, row.periods[i]);
    }
    stats.known = true;
    stats.meanMs = static_cast<double>(sum) / row.periodCount;
    return stats;
}

bool IsStale(const FrameRow &row, int64_t nowUs) {
    const CycleStats cycle = CycleOf(row);
    const int64_t limit = cycle.known
                              ? std::max<int64_t>(StaleFloorUs, static_cast<int64_t>(3000 * cycle.meanMs))
                              : StaleUnknownCycleUs;
    return nowUs - row.lastArrivalUs > limit;
}

int ByteFade(const FrameRow &row, int byte, int64_t nowUs) {
    if (byte < 0 || byte >= 8 || row.changedAtUs[byte] == 0) return 0;
    const int64_t age = nowUs - row.changedAtUs[byte];
    if (age < 0) return 255;
    if (age >= FadeUs) return 0;
    return static_cast<int>(255 * (FadeUs - age) / FadeUs);
}

}  // namespace busview
