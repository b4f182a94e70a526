// A CAN bus for tests: the port an emulated adapter or a bus mirror is attached to, with the test as the
// one other node.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CanBusPort.h"

// A bus inside the process with one other node, the test: what the adapter transmits is kept in a ring
// of the last Capacity frames, and Inject plays a frame from the other node to the adapter on the
// caller's thread.
class LoopbackCanBus final : public CanBusPort {
public:
    static constexpr std::size_t Capacity = 4096;

    bool Open(std::string &why) override;
    void Close() override;
    bool Transmit(const BusFrame &frame) override;

    void Inject(const BusFrame &frame) { DeliverFrame(frame); }
    void InjectError(uint8_t flags) { DeliverError(flags); }

    uint64_t TransmittedCount() const;
    std::vector<BusFrame> Transmitted() const;  // the kept frames, oldest first
    bool WaitForTransmitted(uint64_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    bool open_ = false;
    BusFrame ring_[Capacity];
    uint64_t total_ = 0;
};
