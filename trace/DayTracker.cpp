#include "DayTracker.h"

#include <ctime>

std::chrono::year_month_day DayTracker::LocalToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return std::chrono::year_month_day{
            std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

candump::Timestamp DayTracker::Stamp(int Hour, int Minute, int Second, int Millisecond) {
    const int32_t ms = ((Hour * 60 + Minute) * 60 + Second) * 1000 + Millisecond;
    if (!started_) {
        date_ = std::chrono::sys_days{today_()};
        started_ = true;
        cachedHour_ = -1;
    } else if (lastMs_ - ms > HalfDayMs) {
        date_ += std::chrono::days{1};
        cachedHour_ = -1;
    }
    lastMs_ = ms;
    if (Hour != cachedHour_) {
        hourStart_ = HourStart(Hour);
        cachedHour_ = Hour;
    }
    return {hourStart_ + Minute * 60 + Second, Millisecond * 1000};
}

// The start of an hour of date_ in local time. Whole hours: the daylight saving steps of the zones
// this runs in fall on the hour.
int64_t DayTracker::HourStart(int Hour) {
    const std::chrono::year_month_day ymd{date_};
    std::tm local{};
    local.tm_year = static_cast<int>(ymd.year()) - 1900;
    local.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    local.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    local.tm_hour = Hour;
    local.tm_isdst = -1;  // whichever applies at that hour
    const std::time_t start = std::mktime(&local);
    if (start != static_cast<std::time_t>(-1)) return start;
    // No local time for it (should not happen): the same date and hour in UTC.
    return std::chrono::duration_cast<std::chrono::seconds>(date_.time_since_epoch()).count() + Hour * 3600;
}
