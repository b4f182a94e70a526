// Turns the adapter's arrival time of day into seconds since the epoch for the log. The adapter stamps
// frames with a time of day only, so the date is tracked here: it is today's local date when the first
// frame arrives, and it moves on one day whenever the time of day steps back by more than twelve hours
// (23:59:59.990 then 00:00:00.010 is the next day; a frame a few seconds older than the one before, as
// reordering or a clock set back makes, is not).
//
//   first frame 23:59:59.990 on 2024-12-08 (TZ=UTC) -> 1733702399.990000
//   next frame  00:00:00.010                        -> 1733702400.010000  (2024-12-09)
//
// Local time follows the TZ rules, daylight saving included (mktime, once per hour of the log).
// Not thread-safe: one thread (the one that runs the receive pump) uses it.
#pragma once

#include <chrono>
#include <cstdint>

#include "CandumpLine.h"

class DayTracker {
public:
    using TodayFunction = std::chrono::year_month_day (*)();
    // Today's date in local time, from the system clock.
    static std::chrono::year_month_day LocalToday();

    explicit DayTracker(TodayFunction today = LocalToday) : today_(today) {}

    // Hour 0..23, minute and second 0..59, millisecond 0..999 (the decoder drops any other).
    candump::Timestamp Stamp(int Hour, int Minute, int Second, int Millisecond);

    // Forget the date: the next frame starts again from today.
    void Reset() { started_ = false; }

    std::chrono::year_month_day Date() const { return std::chrono::year_month_day{date_}; }

private:
    static constexpr int32_t HalfDayMs = 12 * 3600 * 1000;

    int64_t HourStart(int Hour);

    TodayFunction today_;
    bool started_ = false;
    std::chrono::sys_days date_{};
    int32_t lastMs_ = 0;   // the previous frame's time of day, milliseconds
    int cachedHour_ = -1;  // the hour hourStart_ holds, on date_; -1 when none
    int64_t hourStart_ = 0;
};
