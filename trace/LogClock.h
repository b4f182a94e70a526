// The time stamp of each log line. Two clocks are at hand: the adapter's, which stamps every CAN frame
// with a time of day to the millisecond, and the PC's, read when the bytes arrived. The adapter's is the
// finer one, but it is only a time of day, and only right once this program has set it: a freshly
// plugged adapter counts from 00:00:00 again. So a line carries
//   - the adapter's time, placed on the local date that puts it nearest the PC's clock, when the
//     adapter's clock was set by this program since the adapter was plugged in and that time lies within
//     MaxSkew of the PC's clock at arrival;
//   - otherwise (clock not set, a frame stamped before the set took effect, bus error reports, which carry
//     no time) the PC's clock at arrival;
// and never a time before the line above it: a line that would step back gets the time of the one before.
// So a log never jumps a day, never lies more than MaxSkew from when its bytes arrived, and never runs
// backwards within one file.
//
//   TZ=UTC, PC at 2024-12-08 23:59:59.995, adapter 23:59:59.990, set -> 1733702399.990000
//   PC at 2024-12-09 00:00:00.020, adapter 00:00:00.010, set        -> 1733702400.010000 (nearest day)
//   PC at 2024-12-09 15:18:00.000, adapter 00:00:05.051, not set    -> 1733757480.000000 (the PC's)
//
// Local time follows the TZ rules, daylight saving included (mktime once per hour of the log).
// Not thread-safe: one thread stamps the lines of one file.
#pragma once

#include <cstdint>

#include "CandumpLine.h"

class LogClock {
public:
    static constexpr int64_t MaxSkewUs = 2'000'000;

    // `adapterMs`: the adapter's time of day in ms, or -1 when the line has none. `arrivalUs`: the PC's
    // clock when the bytes arrived, microseconds since the epoch.
    candump::Timestamp Stamp(int32_t adapterMs, bool adapterClockSet, int64_t arrivalUs);

    // A new file: nothing before it to keep in order with.
    void Reset() { last_ = INT64_MIN; }

private:
    // The adapter's time of day on the local date nearest `arrivalUs`.
    int64_t Place(int32_t adapterMs, int64_t arrivalUs);
    // The start of `hour` on the local date `days` (days since the epoch), microseconds since the epoch.
    int64_t HourStart(int64_t days, int hour);
    int64_t LocalDate(int64_t atUs);

    int64_t last_ = INT64_MIN;
    // The local date last seen, valid for [dateFrom_, dateTo_).
    int64_t date_ = 0, dateFrom_ = 0, dateTo_ = INT64_MIN;
    // Two hours kept, as (date, hour) -> start: the one a frame falls in and its neighbour across midnight.
    struct CachedHour {
        int64_t days = INT64_MIN;
        int hour = -1;
        int64_t start = 0;
    };
    CachedHour hours_[2];
    int nextHour_ = 0;
};
