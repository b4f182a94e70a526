// What the bus carried over the last second: bits on the wire, frames, error reports, and the most bits
// any second held since the peak was cleared.
//
// The clock is the PC's arrival time of each read (BusEvent::arrivalUs), not the adapter's stamps:
//  - a silent bus must read 0 %, so the window slides on the clock of whoever reads it, and the reader
//    (the list window's timer, the gateway's once-a-second line) has the PC's clock, not the adapter's;
//  - bus error reports carry no adapter stamp, and the adapter's time of day is only as right as the last
//    Initialize that set it;
//  - a frame is stamped with the time of the read that brought it (reads follow each other within 10 ms
//    while bytes keep coming), which blurs only the edges of a second; the adapter's stamps are kept for
//    what needs the millisecond (cycle times).
// The second is counted in 100 ms buckets and read as the ten whole buckets before the one the clock is
// in: the figures lag the bus by up to 100 ms and step every 100 ms. A clock that steps back (the PC's
// time was set) counts on into the newest bucket; one that jumps ahead by more than a second starts over.
//
// Not synchronised: its owner (ReceiveTable) holds its lock around every call. Fixed size, no allocation.
#pragma once

#include <array>
#include <cstdint>

namespace busview {

struct LoadFigures {
    int64_t bits = 0;      // bits on the wire in the last second (FrameBitsOnWire of each frame)
    int64_t peakBits = 0;  // the most bits of any second (at 100 ms steps) since the peak was cleared
    int64_t frames = 0;    // frames in the last second
    int64_t errors = 0;    // bus error reports in the last second
};

class LoadMeter {
public:
    static constexpr int64_t BucketUs = 100'000;
    static constexpr int WindowBuckets = 10;

    void AddFrame(int64_t arrivalUs, int bits);
    void AddError(int64_t arrivalUs);
    // Closes the buckets the clock has left behind (a quiet bus closes empty ones).
    void Advance(int64_t nowUs);
    LoadFigures Figures() const;
    // The peak starts again from the last second's figure.
    void ClearPeak();

private:
    struct Bucket {
        int64_t bits = 0;
        int64_t frames = 0;
        int64_t errors = 0;
    };
    Bucket &Current(int64_t atUs);
    Bucket &Slot(int64_t bucket) { return ring_[static_cast<std::size_t>(bucket % Ring)]; }
    const Bucket &Slot(int64_t bucket) const { return ring_[static_cast<std::size_t>(bucket % Ring)]; }
    int64_t WindowBits() const;

    static constexpr int Ring = WindowBuckets + 1;  // the ten whole buckets and the one filling
    std::array<Bucket, Ring> ring_{};
    int64_t current_ = -1;  // the bucket the clock is in (time / BucketUs); -1 before the first
    int64_t peakBits_ = 0;
};

}  // namespace busview
