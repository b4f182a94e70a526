// A firmware component of the emulated adapter that keeps a record of every command frame the host
// wrote: it cuts the host's byte stream into frames by the envelope (FA F5 | type | L | payload |
// checksum | AF 5F) and records each, in arrival order, with the time its last byte arrived.
//
// Cutting: a frame is taken where FA F5 stands at its first two bytes and AF 5F at L + 5 and L + 6
// (frame::MatchAt). Bytes before a start pair, and a start pair whose end pair is not where its length
// says, are skipped one byte at a time (counted in SkippedBytes). Frames with a wrong checksum are recorded
// too, marked, so a test sees exactly what arrived. A partial frame is dropped when the adapter loses power.
//   host writes 00 FA F5 06 00 06 AF 5F -> one frame {type 6, payload {}, 7 bytes}, SkippedBytes() == 1
//
// It can sit in front of another firmware (a model that answers the commands): every byte and power
// change is passed on to `next` unchanged, after being recorded.
//
// Thread contract: internally locked; the emulator calls it on the writer's thread while tests read it
// from theirs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Frame.h"
#include "SimAdapter.h"

struct LoggedFrame {
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> bytes;  // the whole frame, start pair to end pair
    bool checksumOk = false;
    std::chrono::steady_clock::time_point arrived;
};

class CommandLog final : public SimFirmware {
public:
    explicit CommandLog(SimFirmware *next = nullptr) : next_(next) {}

    void OnHostBytes(SimAdapter &adapter, const uint8_t *data, std::size_t count) override;
    void OnPowerChange(SimAdapter &adapter, bool plugged) override;

    // Feeds bytes as if the host had written them now; what OnHostBytes does before passing them on.
    void Feed(const uint8_t *data, std::size_t count);

    std::vector<LoggedFrame> Frames() const;  // a copy, oldest first
    std::size_t Count() const;
    std::size_t SkippedBytes() const;
    // Waits until at least `count` frames are recorded; false when `timeout` passed first.
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const;
    void Clear();  // forgets the frames, the partial frame and the skip count

private:
    void DropFront(std::size_t n);                         // lock held
    void Scan(std::chrono::steady_clock::time_point now);  // lock held

    SimFirmware *next_;
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    uint8_t pending_[frame::MaxFrame];  // never holds more than one frame's worth
    std::size_t pendingSize_ = 0;
    std::size_t skipped_ = 0;
    std::vector<LoggedFrame> frames_;
};
