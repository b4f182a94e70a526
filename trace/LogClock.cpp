#include "LogClock.h"

#include <ctime>

namespace {

constexpr int64_t UsPerSecond = 1'000'000;
constexpr int64_t UsPerDay = int64_t{86400} * UsPerSecond;
constexpr int64_t HalfDayUs = UsPerDay / 2;

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }

// Civil date of a day count since 1970-01-01 (proleptic Gregorian), and back.
void CivilFromDays(int64_t z, int &y, unsigned &m, unsigned &d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

candump::Timestamp LogClock::Stamp(int32_t adapterMs, bool adapterClockSet, int64_t arrivalUs) {
    int64_t at = arrivalUs;
    if (adapterClockSet && adapterMs >= 0 && adapterMs < 86400 * 1000) {
        const int64_t placed = Place(adapterMs, arrivalUs);
        if (Abs(placed - arrivalUs) <= MaxSkewUs) at = placed;
    }
    if (at < last_) at = last_;
    last_ = at;
    int64_t seconds = at / UsPerSecond;
    int64_t micros = at % UsPerSecond;
    if (micros < 0) {
        micros += UsPerSecond;
        --seconds;
    }
    return {seconds, static_cast<int32_t>(micros)};
}

int64_t LogClock::Place(int32_t adapterMs, int64_t arrivalUs) {
    const int64_t date = LocalDate(arrivalUs);
    const int hour = adapterMs / 3'600'000;
    const int64_t inHour = int64_t{adapterMs % 3'600'000} * 1000;
    int64_t placed = HourStart(date, hour) + inHour;
    if (placed - arrivalUs > HalfDayUs)
        placed = HourStart(date - 1, hour) + inHour;
    else if (arrivalUs - placed > HalfDayUs)
        placed = HourStart(date + 1, hour) + inHour;
    return placed;
}

int64_t LogClock::LocalDate(int64_t atUs) {
    if (atUs >= dateFrom_ && atUs < dateTo_) return date_;
    const std::time_t t = static_cast<std::time_t>(atUs / UsPerSecond);
    std::tm local{};
    if (!localtime_r(&t, &local)) {
        date_ = atUs / UsPerDay;  // no local time for it (should not happen): the UTC date
        dateFrom_ = dateTo_ = 0;
        return date_;
    }
    date_ = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                          static_cast<unsigned>(local.tm_mday));
    dateFrom_ = HourStart(date_, 0);
    dateTo_ = HourStart(date_ + 1, 0);
    return date_;
}

// Whole hours: the daylight saving steps of the zones this runs in fall on the hour.
int64_t LogClock::HourStart(int64_t days, int hour) {
    for (const CachedHour &c : hours_)
        if (c.days == days && c.hour == hour) return c.start;
    int y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    std::tm local{};
    local.tm_year = y - 1900;
    local.tm_mon = static_cast<int>(m) - 1;
    local.tm_mday = static_cast<int>(d);
    local.tm_hour = hour;
    local.tm_isdst = -1;  // whichever applies at that hour
    const std::time_t start = std::mktime(&local);
    const int64_t us = start != static_cast<std::time_t>(-1)
                           ? int64_t{start} * UsPerSecond
                           : (days * 86400 + int64_t{hour} * 3600) * UsPerSecond;
    hours_[nextHour_] = {days, hour, us};
    nextHour_ = (nextHour_ + 1) % 2;
    return us;
}
