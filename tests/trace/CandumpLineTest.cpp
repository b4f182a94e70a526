// Lines compared byte for byte with lines written out by hand from the format's rules.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "CandumpLine.h"
#include "DayTracker.h"
#include "TraceSupport.h"

namespace {

constexpr candump::Timestamp At{1733655296, 123000};
constexpr uint8_t Bytes[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

struct FrameRow {
    const char *what;
    uint32_t identifier;
    uint8_t info;
    bool remote;
    const char *line;
};

class FrameLine : public ::testing::TestWithParam<FrameRow> {};

TEST_P(FrameLine, IsWrittenByTheRules) {
    const FrameRow &row = GetParam();
    std::array<char, candump::MaxLineLength> out{};
    const std::size_t n =
        candump::FormatCanFrame(out, At, "brisklet0", row.identifier, row.info, row.remote, Bytes);
    EXPECT_EQ(std::string(out.data(), n), std::string("(1733655296.123000) brisklet0 ") + row.line + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FrameLine,
    ::testing::Values(FrameRow{"standard, eight bytes", 0x123, 8, false, "123#1122334455667788"},
                      FrameRow{"standard, two bytes", 0x123, 2, false, "123#1122"},
                      FrameRow{"standard, zero length", 0x7FF, 0, false, "7FF#"},
                      FrameRow{"standard, leading zeros", 0x005, 1, false, "005#11"},
                      FrameRow{"extended, eight bytes", 0x1ABCDEF0, 0x18, false, "1ABCDEF0#1122334455667788"},
                      FrameRow{"extended, small id keeps 8 digits", 0x123, 0x10, false, "00000123#"},
                      FrameRow{"remote, no length", 0x123, 0, true, "123#R"},
                      FrameRow{"remote, length 3", 0x123, 3, true, "123#R3"},
                      FrameRow{"extended remote, length 8", 0x1FFFFFFF, 0x18, true, "1FFFFFFF#R8"},
                      FrameRow{"length over 8 counts as 8", 0x123, 15, false, "123#1122334455667788"},
                      FrameRow{"remote length over 8 counts as 8", 0x123, 12, true, "123#R8"},
                      FrameRow{"standard id masked to 11 bits", 0xF923, 1, false, "123#11"},
                      FrameRow{"extended id masked to 29 bits", 0xFFFFFFFF, 0x11, false, "1FFFFFFF#11"}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

struct ErrorRow {
    uint8_t flags;
    const char *line;
};

class ErrorLine : public ::testing::TestWithParam<ErrorRow> {};

// The SocketCAN error frame of each flag, as the bus bridge reads them back.
TEST_P(ErrorLine, IsASocketCanErrorFrame) {
    std::array<char, candump::MaxLineLength> out{};
    const std::size_t n = candump::FormatBusError(out, At, "brisklet0", GetParam().flags);
    EXPECT_EQ(std::string(out.data(), n),
              std::string("(1733655296.123000) brisklet0 ") + GetParam().line + "\n");
}

INSTANTIATE_TEST_SUITE_P(Errors, ErrorLine,
                         ::testing::Values(ErrorRow{0x08, "20000088#0000040000000000"},    // stuff
                                           ErrorRow{0x04, "20000088#0000000800000000"},    // CRC
                                           ErrorRow{0x02, "20000088#0000020000000000"},    // form
                                           ErrorRow{0x01, "200000A0#0000000000000000"},    // ack
                                           ErrorRow{0x0C, "20000088#0000040800000000"},    // stuff + CRC
                                           ErrorRow{0x0F, "200000A8#0000060800000000"},    // all four
                                           ErrorRow{0x00, "20000080#0000000000000000"},    // no detail
                                           ErrorRow{0xF1, "200000A0#0000000000000000"}));  // bits 7..4 unread

TEST(CandumpLine, TimeIsPaddedAndNameIsTaken) {
    std::array<char, candump::MaxLineLength> out{};
    std::size_t n = candump::FormatCanFrame(out, {5, 7}, "can0", 0x123, 0, false, Bytes);
    EXPECT_EQ(std::string(out.data(), n), "(0000000005.000007) can0 123#\n");

    const std::string longest(candump::MaxInterfaceName, 'n');
    n = candump::FormatCanFrame(out, {INT64_MAX, 999999}, longest, 0x1FFFFFFF, 0x18, false, Bytes);
    EXPECT_EQ(std::string(out.data(), n),
              "(9223372036854775807.999999) " + longest + " 1FFFFFFF#1122334455667788\n");
}

TEST(CandumpLine, RefusesBadNamesAndShortBuffers) {
    std::array<char, candump::MaxLineLength> out{};
    out.fill('x');
    for (const std::string &name :
         {std::string(), std::string("can 0"), std::string("can\t0"),
          std::string(candump::MaxInterfaceName + 1, 'n'), std::string("caf\xC3\xA9")}) {
        EXPECT_FALSE(candump::ValidInterfaceName(name)) << name;
        EXPECT_EQ(candump::FormatCanFrame(out, At, name, 0x123, 8, false, Bytes), 0u) << name;
        EXPECT_EQ(candump::FormatBusError(out, At, name, 0x01), 0u) << name;
    }
    const std::span<char> shortOut(out.data(), candump::MaxLineLength - 1);
    EXPECT_EQ(candump::FormatCanFrame(shortOut, At, "brisklet0", 0x123, 8, false, Bytes), 0u);
    EXPECT_EQ(candump::FormatBusError(shortOut, At, "brisklet0", 0x01), 0u);
    EXPECT_EQ(out.front(), 'x') << "nothing is written when the line would not fit";
}

// The adapter's time of day becomes seconds since the epoch on the tracked local date.
struct DayRow {
    const char *what;
    const char *zone;
    std::chrono::year_month_day (*today)();
    std::vector<std::array<int, 4>> times;  // hour, minute, second, millisecond, in arrival order
    std::vector<candump::Timestamp> stamps;
};

class DayTracking : public ::testing::TestWithParam<DayRow> {};

TEST_P(DayTracking, StampsEachFrame) {
    const DayRow &row = GetParam();
    ScopedTimeZone zone(row.zone);
    DayTracker days(row.today);
    ASSERT_EQ(row.times.size(), row.stamps.size());
    for (std::size_t i = 0; i < row.times.size(); ++i) {
        const auto &t = row.times[i];
        const candump::Timestamp s = days.Stamp(t[0], t[1], t[2], t[3]);
        EXPECT_EQ(s.seconds, row.stamps[i].seconds) << "frame " << i;
        EXPECT_EQ(s.microseconds, row.stamps[i].microseconds) << "frame " << i;
    }
}

std::chrono::year_month_day March31() {
    using namespace std::chrono;
    return 2024y / March / 31d;
}
std::chrono::year_month_day December31() {
    using namespace std::chrono;
    return 2024y / December / 31d;
}

constexpr int64_t D = December8Utc;
constexpr int64_t Day = 86400;

INSTANTIATE_TEST_SUITE_P(
    Days, DayTracking,
    ::testing::Values(
        DayRow{"the example", "UTC", December8, {{10, 54, 56, 123}}, {{1733655296, 123000}}},
        DayRow{"midnight moves the date on",
               "UTC",
               December8,
               {{23, 59, 59, 990}, {0, 0, 0, 10}, {23, 59, 59, 999}},
               {{D + Day - 1, 990000}, {D + Day, 10000}, {D + 2 * Day - 1, 999000}}},
        DayRow{"two midnights",
               "UTC",
               December8,
               {{22, 0, 0, 0}, {1, 0, 0, 0}, {22, 0, 0, 0}, {1, 0, 0, 0}},
               {{D + 22 * 3600, 0}, {D + Day + 3600, 0}, {D + Day + 22 * 3600, 0}, {D + 2 * Day + 3600, 0}}},
        DayRow{"a step back of twelve hours or less is the same day",
               "UTC",
               December8,
               {{18, 0, 0, 0}, {6, 0, 0, 0}, {17, 59, 59, 999}, {12, 0, 0, 0}},
               {{D + 18 * 3600, 0}, {D + 6 * 3600, 0}, {D + 18 * 3600 - 1, 999000}, {D + 12 * 3600, 0}}},
        DayRow{"twelve hours and a millisecond back is the next day",
               "UTC",
               December8,
               {{18, 0, 0, 1}, {6, 0, 0, 0}},
               {{D + 18 * 3600, 1000}, {D + Day + 6 * 3600, 0}}},
        DayRow{"into the new year",
               "UTC",
               December31,
               {{23, 59, 59, 999}, {0, 0, 0, 0}},
               {{1735689599, 999000}, {1735689600, 0}}},
        // Central European time: 2024-03-31 02:00 CET became 03:00 CEST (01:00 UTC).
        DayRow{"local time, daylight saving starts",
               "CET-1CEST,M3.5.0,M10.5.0/3",
               March31,
               {{0, 30, 0, 0}, {1, 59, 59, 0}, {3, 0, 0, 0}, {12, 0, 0, 0}},
               {{1711843200 - 1800, 0}, {1711846799, 0}, {1711846800, 0}, {1711843200 + 10 * 3600, 0}}},
        DayRow{"local time, east of UTC",
               "JST-9",
               December8,
               {{8, 0, 0, 500}},
               {{D - 9 * 3600 + 8 * 3600, 500000}}}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(DayTracker, ResetStartsAgainFromToday) {
    ScopedTimeZone zone("UTC");
    DayTracker days(December8);
    days.Stamp(23, 0, 0, 0);
    days.Stamp(1, 0, 0, 0);
    EXPECT_EQ(days.Date(),
              std::chrono::year_month_day{std::chrono::sys_days{December8()} + std::chrono::days{1}});
    days.Reset();
    EXPECT_EQ(days.Stamp(1, 0, 0, 0).seconds, D + 3600);
}

TEST(DayTracker, StartsFromTheLocalDate) {
    ScopedTimeZone zone("UTC");
    DayTracker days;
    const int64_t start = days.Stamp(0, 0, 0, 0).seconds;
    const std::time_t now = std::time(nullptr);
    // Midnight of today (of tomorrow if the clock passed midnight in between).
    EXPECT_GT(now - start, -Day);
    EXPECT_LT(now - start, Day);
    EXPECT_EQ(start % Day, 0);
}

}  // namespace
