// Frame lengths on the wire worked by hand (see FrameLength.h for the working), and the bus load of a
// known sequence of frames through the table as the health line says it.
#include <gtest/gtest.h>

#include <string>

#include "BusEvents.h"
#include "FrameLength.h"
#include "ReceiveTable.h"

using namespace busview;

namespace {

TEST(FrameLength, HandWorkedFrames) {
    const struct {
        const char *name;
        BusEvent frame;
        int bits;
    } rows[] = {
        {"11-bit 0x555, 8 x 0x55", FrameEvent(0x555, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, 0, 0),
         112},
        {"11-bit 0, 8 x 0x00", FrameEvent(0, {0, 0, 0, 0, 0, 0, 0, 0}, 0, 0), 127},
        {"29-bit remote 0x1FFFFFFF, length 0", FrameEvent(0x1FFFFFFF, {}, 0, 0, true, true, 0), 74},
        // 54 bits with no data field (DLC 0010); the CRC 0x51F9 ends in six ones: 1 stuff bit.
        {"29-bit remote 0x12345678, length 2", FrameEvent(0x12345678, {}, 0, 0, true, true, 2), 68},
        // 0 00100100011 000 0010 00010001 00100010: RTR, IDE, r0 and the DLC's 00 are five zeros (1 stuff
        // bit); the last data bit 0 meets the CRC 0x04B7 = 000010010110111's four zeros (1 more). 50 + 2
        // + 13.
        {"11-bit 0x123, 11 22", FrameEvent(0x123, {0x11, 0x22}, 0, 0), 65},
    };
    for (const auto &row : rows) EXPECT_EQ(FrameBitsOnWire(row.frame), row.bits) << row.name;
}

TEST(BusLoad, KnownSequenceAndHowTheHealthLineSaysIt) {
    ReceiveTable table;
    ReceiveSnapshot view;
    // One second of the 112-bit frame every 10 ms and one error report, then a silent second.
    for (int i = 0; i < 100; ++i) {
        const BusEvent f =
            FrameEvent(0x555, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, i * 10, T0 + i * 10'000);
        table.Add({&f, 1});
    }
    const BusEvent error = ErrorEvent(0x04, T0 + 500'000);
    table.Add({&error, 1});

    table.Take(view, T0 + 1'000'000);
    EXPECT_EQ(view.Load().bits, 100 * 112);
    EXPECT_EQ(view.Load().frames, 100);
    EXPECT_EQ(view.Load().errors, 1);
    table.Take(view, T0 + 2'050'000);
    EXPECT_EQ(view.Load().bits, 0) << "a silent bus reads 0";
    EXPECT_EQ(view.Load().peakBits, 100 * 112);
    const LoadFigures busy{11200, 11200, 100, 1}, quiet{0, 11200, 0, 0}, full{200'000, 200'000, 1500, 0};
    const BitRate at125k{BitRateState::Known, 125'000}, at500k{BitRateState::Known, 500'000};

    const struct {
        BusHealth health;
        const char *line;
    } rows[] = {
        {{busy, at125k, {}}, "load 9.0 % (peak 9.0 %), 100 frames/s, 1 errors/s, dropped 0"},
        {{quiet, at500k, {}}, "load 0.0 % (peak 2.2 %), 0 frames/s, 0 errors/s, dropped 0"},
        {{full, at125k, {}}, "load 100.0 % (peak 100.0 %), 1500 frames/s, 0 errors/s, dropped 0"},
        {{busy, {BitRateState::NotInitialised, 0}, {}},
         "load ? (no Initialize since the adapter was plugged in), 100 frames/s, 1 errors/s, dropped 0"},
        {{busy, {BitRateState::SetUpElsewhere, 0}, {5, 1, 2, 0}},
         "load ? (listening to an adapter set up elsewhere), 100 frames/s, 1 errors/s, dropped 3 "
         "(bad checksum 1, queue full 2, by a consumer 0; 5 bytes skipped)"},
    };
    for (const auto &row : rows) {
        char line[256];
        EXPECT_EQ(std::string(line, FormatSummaryLine(line, row.health)), row.line);
    }

    table.Clear();
    table.Take(view, T0 + 2'100'000);
    EXPECT_EQ(view.Load().peakBits, 0) << "the peak starts again at a clear";
}

}  // namespace
