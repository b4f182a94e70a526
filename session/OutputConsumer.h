// A consumer that writes what it takes somewhere that may make it wait (a file on a slow disk, a pipe
// nobody reads, standard output), without ever making the receive path wait.
//
// Take() (the pump's thread, gate held) copies the events into a fixed ring and returns; what does not fit
// is counted as dropped for this consumer alone, never waited for. A thread of the consumer's own takes
// the events out in order and hands them to `write`, which may block on its output. The owner says the
// drops (DropNotice), from its own thread, since the output's thread may be the one that is stuck.
//
// Stop() asks the thread to write what the ring still holds and end, and wakes anything watching
// StopFd(): an output that polls its descriptor together with StopFd() gives up, rather than wait, once a
// stop is asked and its descriptor takes nothing. So closing the program ends within a moment even while
// the output is blocked, and what the output already took stays whole.
//
// Thread contract: construct, Start, Stop, DropNotice and destroy on one thread (the owner's); Take on the
// pump's; `write` runs on the consumer's thread only. Nothing is allocated per event.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "BusConsumer.h"

class OutputConsumer final : public BusConsumer {
public:
    using Write = std::function<void(std::span<const BusEvent> events)>;

    static constexpr std::size_t DefaultCapacity = 65536;  // three seconds of a saturated 1 Mbit/s bus

    // `name` starts the drop notice ("log").
    OutputConsumer(std::string name, Write write, std::size_t capacity = DefaultCapacity);
    ~OutputConsumer() override;  // Stop()
    OutputConsumer(const OutputConsumer &) = delete;
    OutputConsumer &operator=(const OutputConsumer &) = delete;

    void Start();
    // Writes what waits, unless the output has stopped taking it, and ends the thread. Safe twice.
    void Stop();
    // Readable once Stop() was asked (an eventfd); -1 if it could not be made.
    int StopFd() const { return stopFd_; }

    void Take(std::span<const BusEvent> events) override;

    uint64_t Dropped() const { return dropped_.load(); }
    // When more were dropped since the last time it said so: "log: 1234 frames dropped, the output is not
    // keeping up" (the total so far). Empty otherwise.
    std::string DropNotice();

private:
    void Run();

    const std::string name_;
    Write write_;
    uint64_t told_ = 0;  // the owner's
    const std::size_t capacity_;
    std::unique_ptr<BusEvent[]> ring_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::size_t head_ = 0, count_ = 0;
    bool stopping_ = false;
    int stopFd_ = -1;
    std::atomic<uint64_t> dropped_{0};
    std::thread thread_;
};
