#include "SignalSampler.h"

#include "SignalDecode.h"

namespace busview {

SignalSampler::SignalSampler() = default;
SignalSampler::~SignalSampler() = default;

int SignalSampler::Pick(const PlotPick &pick) {
    if (!pick.message || !pick.signal) return -1;
    const std::lock_guard lock(mutex_);
    int free = -1;
    for (int i = 0; i < MaxPicks; ++i) {
        if (slots_[i].pick.signal == pick.signal) return i;
        if (!slots_[i].pick.signal && free < 0) free = i;
    }
    if (free < 0) return -1;
    if (!rings_) rings_ = std::make_unique<PlotPoint[]>(MaxPicks * RingPoints);
    slots_[free] = Slot{pick, 0, 0};
    picked_.fetch_add(1, std::memory_order_relaxed);
    return free;
}

void SignalSampler::Unpick(const dbc::Signal *signal) {
    const std::lock_guard lock(mutex_);
    for (Slot &slot : slots_)
        if (signal && slot.pick.signal == signal) {
            slot = Slot{};
            if (picked_.fetch_sub(1, std::memory_order_relaxed) == 1) started_ = false;
        }
}

void SignalSampler::UnpickAll() {
    const std::lock_guard lock(mutex_);
    for (Slot &slot : slots_) slot = Slot{};
    picked_.store(0, std::memory_order_relaxed);
    started_ = false;
}

int SignalSampler::SlotOf(const dbc::Signal *signal) const {
    const std::lock_guard lock(mutex_);
    for (int i = 0; i < MaxPicks; ++i)
        if (signal && slots_[i].pick.signal == signal) return i;
    return -1;
}

double SignalSampler::TimeOf(const BusEvent &event) {
    const bool stamped = event.adapterMs >= 0 && event.adapterMs < BusEvent::MsPerDay;
    if (!started_) {
        started_ = true;
        elapsedMs_ = 0;
        lastMs_ = stamped ? event.adapterMs : -1;
        lastArrivalUs_ = event.arrivalUs;
        return 0;
    }
    if (!stamped) {
        const int64_t sinceUs = event.arrivalUs - lastArrivalUs_;
        return static_cast<double>(elapsedMs_) / 1e3 + static_cast<double>(sinceUs > 0 ? sinceUs : 0) / 1e6;
    }
    if (lastMs_ < 0) {  // the first stamp after unstamped frames: the PC's clock bridges the gap
        const int64_t sinceUs = event.arrivalUs - lastArrivalUs_;
        elapsedMs_ += sinceUs > 0 ? sinceUs / 1000 : 0;
    } else {
        int32_t step = AdapterMsBetween(lastMs_, event.adapterMs);
        if (step > BusEvent::MsPerDay / 2) {  // earlier than the last stamp
            if (BusEvent::MsPerDay - step <= OutOfOrderMs) return static_cast<double>(elapsedMs_) / 1e3;
            step = 0;  // the adapter's clock was set back: time goes on from here
        }
        elapsedMs_ += step;
    }
    lastMs_ = event.adapterMs;
    lastArrivalUs_ = event.arrivalUs;
    return static_cast<double>(elapsedMs_) / 1e3;
}

void SignalSampler::Add(std::span<const BusEvent> batch) {
    if (!Active()) return;
    const std::lock_guard lock(mutex_);
    for (const BusEvent &event : batch) {
        if (event.kind != BusEvent::Kind::Frame || event.remote) continue;
        bool timed = false;
        double seconds = 0;
        for (int i = 0; i < MaxPicks; ++i) {
            Slot &slot = slots_[i];
            const dbc::Message *m = slot.pick.message;
            if (!m || m->id != event.id || m->extended != event.extended) continue;
            dbc::SignalValue value;
            if (!dbc::DecodeSignal(*m, *slot.pick.signal, event.data, event.DataLength(), value)) continue;
            if (!timed) {
                seconds = TimeOf(event);
                timed = true;
            }
            rings_[static_cast<std::size_t>(i) * RingPoints + slot.written % RingPoints] = {seconds,
                                                                                            value.value};
            ++slot.written;
        }
    }
}

std::size_t SignalSampler::Drain(int slotIndex, std::span<PlotPoint> out, uint64_t &lost) {
    if (slotIndex < 0 || slotIndex >= MaxPicks) return 0;
    const std::lock_guard lock(mutex_);
    Slot &slot = slots_[slotIndex];
    if (slot.written - slot.read > RingPoints) {
        lost += slot.written - slot.read - RingPoints;
        slot.read = slot.written - RingPoints;
    }
    std::size_t n = 0;
    const PlotPoint *ring = rings_ ? &rings_[static_cast<std::size_t>(slotIndex) * RingPoints] : nullptr;
    for (; n < out.size() && slot.read < slot.written; ++n, ++slot.read)
        out[n] = ring[slot.read % RingPoints];
    return n;
}

}  // namespace busview
