#include "LoopbackCanBus.h"

bool LoopbackCanBus::Open(std::string &) {
    std::lock_guard lock(mutex_);
    open_ = true;
    return true;
}

void LoopbackCanBus::Close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool LoopbackCanBus::Transmit(const BusFrame &frame) {
    {
        std::lock_guard lock(mutex_);
        if (!open_) return false;
        ring_[total_ % Capacity] = frame;
        ++total_;
    }
    added_.notify_all();
    return true;
}

uint64_t LoopbackCanBus::TransmittedCount() const {
    std::lock_guard lock(mutex_);
    return total_;
}

std::vector<BusFrame> LoopbackCanBus::Transmitted() const {
    std::lock_guard lock(mutex_);
    const uint64_t kept = total_ < Capacity ? total_ : Capacity;
    std::vector<BusFrame> frames;
    frames.reserve(kept);
    for (uint64_t i = total_ - kept; i < total_; ++i) frames.push_back(ring_[i % Capacity]);
    return frames;
}

bool LoopbackCanBus::WaitForTransmitted(uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, timeout, [&] { return total_ >= count; });
}
