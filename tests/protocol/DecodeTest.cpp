// Decoding one frame: the report vectors of the adapter's protocol, every single-byte corruption, the
// bounds of the time check, bus error flags, command reports, and what lies past a short frame.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Decode.h"
#include "Frame.h"
#include "FrameBytes.h"

namespace {

// What a decoded event says, as text to compare.
std::string Describe(const BusEvent &e) {
    switch (e.kind) {
        case BusEvent::Kind::Frame: {
            const int ms = e.adapterMs;
            const uint8_t *d = e.data;
            char text[96];
            std::snprintf(text, sizeof text, "can %d:%d:%d.%d id=%X info=%02X data=%02X%02X%02X%02X%02X%02X%02X%02X",
                          ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, e.id, e.info, d[0], d[1], d[2],
                          d[3], d[4], d[5], d[6], d[7]);
            return text;
        }
        case BusEvent::Kind::BusError: return "error " + std::to_string(e.errorFlags);
        case BusEvent::Kind::CommandReport: return std::string("  ") + StatusTexts[e.reportType];
    }
    return {};
}

// Fills a slot the way the queue does: the frame, then a given filler.
void Load(FrameBuffer &slot, const Bytes &frame, uint8_t filler = 0) {
    std::memset(slot, filler, sizeof slot);
    std::memcpy(slot, frame.data(), std::min(frame.size(), sizeof slot));
}

std::vector<std::string> Decode(const Bytes &frame, bool paused = false, uint8_t filler = 0) {
    FrameBuffer slot;
    Load(slot, frame, filler);
    BusEvent e;
    if (DecodeMessage(slot, paused, e) != Decoded::Event) return {};
    return {Describe(e)};
}

const Bytes Report{0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03, 0xE7, 0x24, 0x60, 0x00,
                   0x00, 0x02, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9F, 0xAF, 0x5F};
const std::string Shown = "can 12:34:56.999 id=123 info=02 data=1122000000000000";

}  // namespace

struct Vector {
    const char *name;
    Bytes frame;
    std::vector<std::string> events;
};

class DecodeVectors : public ::testing::TestWithParam<Vector> {};

TEST_P(DecodeVectors, Events) { EXPECT_EQ(Decode(GetParam().frame), GetParam().events); }

INSTANTIATE_TEST_SUITE_P(
    Reports, DecodeVectors,
    ::testing::Values(
        Vector{"Type11", Report, {Shown}},
        Vector{"Type12",
               {0xFA, 0xF5, 0x0C, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03, 0xE7, 0x24, 0x60, 0x00,
                0x00, 0x02, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x98, 0xAF, 0x5F},
               {Shown}},
        Vector{"Hour24",
               {0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x18, 0x22, 0x38, 0x03, 0xE7, 0x24, 0x60, 0x00,
                0x00, 0x02, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x8B, 0xAF, 0x5F},
               {}},
        Vector{"Millisecond1000",
               {0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03, 0xE8, 0x24, 0x60, 0x00,
                0x00, 0x02, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0xAF, 0x5F},
               {}},
        Vector{"LastMillisecondOfDay",
               {0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x17, 0x3B, 0x3B, 0x03, 0xE7, 0x24, 0x60, 0x00,
                0x00, 0x02, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9E, 0xAF, 0x5F},
               {"can 23:59:59.999 id=123 info=02 data=1122000000000000"}},
        Vector{"Minute60", Frame(0x0B, {0, 1, 60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), {}},
        Vector{"Second60", Frame(0x0B, {0, 1, 0, 60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), {}},
        Vector{"Extended",
               Frame(0x0B, {0, 9, 5, 3, 0, 7, 0xD5, 0xE6, 0xF7, 0x80, 0x13, 1, 2, 3, 0, 0, 0, 0, 0}),
               {"can 9:5:3.7 id=1ABCDEF0 info=13 data=0102030000000000"}},
        Vector{"StuffAndCrc", {0xFA, 0xF5, 0x0D, 0x01, 0x0C, 0x00, 0xAF, 0x5F}, {"error 12"}},
        Vector{"NoFlags", Frame(0x0D, {0x00}), {"error 0"}},
        Vector{"PauseReport", {0xFA, 0xF5, 0x0A, 0x00, 0x0A, 0xAF, 0x5F}, {"  Pause"}},
        Vector{"ReservedReport", Frame(0x05, {}), {"  Res"}},
        Vector{"ReadyReport", Frame(0x00, {}), {"  Adaptor Ready"}},
        Vector{"InitReportWithPayload", Frame(0x01, {1, 2, 3}), {"  CAN Initialization"}},
        Vector{"Type14Ignored", Frame(14, {1}), {}}, Vector{"Type255Ignored", Frame(255, {}), {}},
        Vector{"WrongStart", {0xFA, 0xF4, 0x0A, 0x00, 0x0A, 0xAF, 0x5F}, {}},
        Vector{"WrongChecksum", {0xFA, 0xF5, 0x0A, 0x00, 0x0B, 0xAF, 0x5F}, {}},
        // The longest frame's checksum lies past index 255.
        Vector{"LongestCommandReport", Frame(0x06, Bytes(255, 0x42)), {"  CAN Disable"}}),
    [](const auto &info) { return info.param.name; });

TEST(Decode, AnyChangedByteDropsTheReport) {
    std::vector<std::size_t> offsets{2};
    for (std::size_t i = 4; i <= 23; ++i) offsets.push_back(i);
    for (std::size_t i : offsets) {
        for (const uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes bad = Report;
            bad[i] ^= flip;
            FrameBuffer slot;
            Load(slot, bad);
            BusEvent e;
            EXPECT_EQ(DecodeMessage(slot, false, e), Decoded::BadChecksum) << "offset " << i << " flip " << int(flip);
        }
    }
}

TEST(Decode, PauseDropsFramesButNotErrorsOrReports) {
    EXPECT_TRUE(Decode(Report, true).empty());
    EXPECT_EQ(Decode(Frame(0x0D, {0x01}), true), std::vector<std::string>{"error 1"});
    EXPECT_EQ(Decode(Frame(0x0A, {}), true), std::vector<std::string>{"  Pause"});
    EXPECT_EQ(Decode(Report, false), std::vector<std::string>{Shown});
}

// A CAN frame report cut short by its length byte: its fields past the end read as zero, whatever the
// slot held there before.
TEST(Decode, ShortReportReadsZerosPastItsEnd) {
    // Eight payload bytes: the checksum and end pair land on ID3, ID4 and info; the data lie past the end.
    const Bytes shortReport = Frame(0x0B, {0, 1, 2, 3, 0, 4, 0x24, 0x60});
    const auto withZeros = Decode(shortReport, false, 0x00);
    const auto withStale = Decode(shortReport, false, 0xEE);
    EXPECT_EQ(withZeros, withStale);
    ASSERT_EQ(withZeros.size(), 1u);
    EXPECT_NE(withZeros[0].find("data=0000000000000000"), std::string::npos) << withZeros[0];
}
