// Lines compared byte for byte with lines written out by hand from the format's rules.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "CandumpLine.h"
#include "LogClock.h"
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

// Which clock each line carries, and that the log never jumps a day or runs backwards.
struct ClockStep {
    int32_t adapterMs;  // -1: a line without adapter time (bus error report)
    bool clockSet;
    int64_t arrivalUs;
    int64_t stampUs;
};

struct ClockRow {
    const char *what;
    const char *zone;
    std::vector<ClockStep> steps;
};

class LogClocks : public ::testing::TestWithParam<ClockRow> {};

TEST_P(LogClocks, StampEachLine) {
    ScopedTimeZone zone(GetParam().zone);
    LogClock clock;
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const ClockStep &s = GetParam().steps[i];
        const candump::Timestamp t = clock.Stamp(s.adapterMs, s.clockSet, s.arrivalUs);
        EXPECT_EQ(t.seconds * 1000000 + t.microseconds, s.stampUs) << "line " << i;
    }
}

constexpr int64_t Us = 1000000;
constexpr int64_t Dec8 = int64_t{1733616000} * Us;  // 2024-12-08 00:00 UTC
constexpr int64_t H = 3600 * Us;
constexpr int32_t Ms(int h, int m, int s, int ms) { return ((h * 60 + m) * 60 + s) * 1000 + ms; }

INSTANTIATE_TEST_SUITE_P(
    Lines, LogClocks,
    ::testing::Values(
        ClockRow{"set clock, the adapter's time",
                 "UTC",
                 {{Ms(12, 34, 56, 999), true, Dec8 + 12 * H + 2097 * Us + 3000,
                   Dec8 + Ms(12, 34, 56, 999) * int64_t{1000}}}},
        ClockRow{"across midnight each frame lands on the day nearest the PC's clock",
                 "UTC",
                 {{Ms(23, 59, 59, 990), true, Dec8 + 24 * H - 5000, Dec8 + 24 * H - 10000},
                  {Ms(23, 59, 59, 999), true, Dec8 + 24 * H + 3000, Dec8 + 24 * H - 1000},
                  {Ms(0, 0, 0, 10), true, Dec8 + 24 * H + 12000, Dec8 + 24 * H + 10000}}},
        ClockRow{"a replugged adapter counts from midnight: the PC's clock until it is set again",
                 "UTC",
                 {{Ms(15, 18, 0, 0), true, Dec8 + 15 * H + 18 * 60 * Us + 3000, Dec8 + 15 * H + 18 * 60 * Us},
                  {Ms(0, 0, 5, 51), false, Dec8 + 15 * H + 19 * 60 * Us, Dec8 + 15 * H + 19 * 60 * Us},
                  {Ms(0, 0, 5, 52), true, Dec8 + 15 * H + 19 * 60 * Us + 1000, Dec8 + 15 * H + 19 * 60 * Us + 1000},
                  {Ms(15, 19, 0, 500), true, Dec8 + 15 * H + 19 * 60 * Us + 502000,
                   Dec8 + 15 * H + 19 * 60 * Us + 500000}}},
        ClockRow{"never a step back: a bus error stamped on arrival, then an earlier frame",
                 "UTC",
                 {{Ms(10, 0, 0, 0), true, Dec8 + 10 * H + 1900, Dec8 + 10 * H},
                  {-1, true, Dec8 + 10 * H + 1900, Dec8 + 10 * H + 1900},
                  {Ms(10, 0, 0, 1), true, Dec8 + 10 * H + 2500, Dec8 + 10 * H + 1900},
                  {Ms(10, 0, 0, 3), true, Dec8 + 10 * H + 3500, Dec8 + 10 * H + 3000}}},
        ClockRow{"an adapter time more than two seconds off is not believed",
                 "UTC",
                 {{Ms(10, 0, 0, 0), true, Dec8 + 10 * H + 2001000, Dec8 + 10 * H + 2001000},
                  {Ms(10, 0, 5, 0), true, Dec8 + 10 * H + 2500000, Dec8 + 10 * H + 2500000}}},
        // Central European time: 2024-03-31 02:00 CET became 03:00 CEST (01:00 UTC = 1711846800).
        ClockRow{"local time, daylight saving starts",
                 "CET-1CEST,M3.5.0,M10.5.0/3",
                 {{Ms(1, 59, 59, 900), true, int64_t{1711846799} * Us + 950000, int64_t{1711846799} * Us + 900000},
                  {Ms(3, 0, 0, 50), true, int64_t{1711846800} * Us + 60000, int64_t{1711846800} * Us + 50000}}},
        ClockRow{"local time east of UTC, just after local midnight",
                 "JST-9",
                 {{Ms(0, 0, 1, 0), true, Dec8 - 9 * H + Us + 500, Dec8 - 9 * H + Us}}}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

}  // namespace
