// The bus health figures and the one line that says them:
//   load 37.2 % (peak 61.0 %), 2130 frames/s, 0 errors/s, dropped 0
//   load ? (no Initialize since the adapter was plugged in), 2130 frames/s, 0 errors/s, dropped 0
// The load needs the bit rate the adapter was initialised with; who owns the adapter session knows it
// (and what the receive path dropped) and answers through HealthSource. Every drop counter is shown, 0
// included: a 0 is the proof that nothing was lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "BusLoad.h"

namespace busview {

enum class BitRateState : uint8_t {
    Known,
    NotInitialised,  // no Initialize since the adapter was plugged in (it forgets its bit rate unplugged)
    SetUpElsewhere,  // listening to an adapter that another program set up
};

struct BitRate {
    BitRateState state = BitRateState::NotInitialised;
    int32_t bitsPerSecond = 0;  // with Known: 10,000 .. 1,000,000
    bool IsKnown() const { return state == BitRateState::Known && bitsPerSecond > 0; }
};

// Why the load cannot be given: "no Initialize since the adapter was plugged in", "listening to an adapter
// set up elsewhere"; "" when the bit rate is known.
const char *UnknownLoadReason(const BitRate &rate);

// What the receive path lost, counted since the program started.
struct ReceiveDrops {
    uint64_t bytesSkipped = 0;     // bytes that were not part of a frame
    uint64_t badChecksum = 0;      // frames with a wrong checksum
    uint64_t queueFull = 0;        // frames lost to a full queue
    uint64_t consumerDropped = 0;  // frames a consumer (log, mirror, ...) could not keep up with
    uint64_t Frames() const { return badChecksum + queueFull + consumerDropped; }
};

// Called on the thread that shows the figures (the window thread, the gateway's main thread), which may
// be another than the receive thread: an implementation reads atomics or its own locked state.
class HealthSource {
public:
    virtual ~HealthSource() = default;
    virtual BitRate CurrentBitRate() const = 0;
    virtual ReceiveDrops Drops() const = 0;
};

struct BusHealth {
    LoadFigures load;
    BitRate bitRate;
    ReceiveDrops drops;

    // Percent of the bit rate, at most 100 (the edges of a second blur by a read's length, which may
    // carry a saturated bus a hair over); 0 when the bit rate is not known.
    double LoadPercent() const { return Percent(load.bits); }
    double PeakPercent() const { return Percent(load.peakBits); }

private:
    double Percent(int64_t bits) const;
};

// The one-line summary above into `out`, no '\n'; returns its length, cut short to fit (never past out).
std::size_t FormatSummaryLine(std::span<char> out, const BusHealth &health);
// "37.2 %" or "?"; the peak "61.0 %" or "?".
std::size_t FormatLoad(std::span<char> out, const BusHealth &health);
std::size_t FormatPeak(std::span<char> out, const BusHealth &health);

}  // namespace busview
