// The envelope both sides of the link share: recognising a frame at a place in a stream, building one
// of any length, its checksum, and the CAN frame report's layout against the decoder.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "CanReport.h"
#include "Decode.h"
#include "Frame.h"
#include "FrameBytes.h"

namespace {

struct MatchRow {
    const char *name;
    Bytes bytes;
    frame::Match::Kind kind;
    std::size_t size;
};

class FrameMatch : public ::testing::TestWithParam<MatchRow> {};

TEST_P(FrameMatch, ReadsOnlyTheBytesGiven) {
    const MatchRow &r = GetParam();
    // A copy of exactly the given size, so a look past the end is caught by the sanitizers.
    const auto bytes = std::make_unique<uint8_t[]>(r.bytes.size());
    std::copy(r.bytes.begin(), r.bytes.end(), bytes.get());
    const frame::Match m = frame::MatchAt(bytes.get(), r.bytes.size());
    EXPECT_EQ(m.kind, r.kind);
    if (r.kind == frame::Match::Whole) {
        EXPECT_EQ(m.size, r.size);
    }
}

const Bytes Disable{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};
INSTANTIATE_TEST_SUITE_P(
    Rows, FrameMatch,
    ::testing::Values(MatchRow{"Whole", Disable, frame::Match::Whole, 7},
                      MatchRow{"WholeWithMoreBehind", Cat({Disable, Bytes{1, 2}}), frame::Match::Whole, 7},
                      // The checksum is not looked at: the decoder drops a damaged frame.
                      MatchRow{"WrongChecksumIsWhole", Bytes{0xFA, 0xF5, 0x06, 0x00, 0x07, 0xAF, 0x5F},
                               frame::Match::Whole, 7},
                      MatchRow{"LoneStartByte", Bytes{0xFA}, frame::Match::Partial, 0},
                      MatchRow{"StartPair", Bytes{0xFA, 0xF5}, frame::Match::Partial, 0},
                      MatchRow{"StartPairAndType", Bytes{0xFA, 0xF5, 0x0A}, frame::Match::Partial, 0},
                      MatchRow{"LengthPastTheEnd", Bytes{0xFA, 0xF5, 0x0A, 0x01, 0xFF, 0xF4, 0xAF},
                               frame::Match::Partial, 0},
                      MatchRow{"LongestLengthByte", Cat({Bytes{0xFA, 0xF5, 0x0C, 0xFF}, Bytes(257, 0)}),
                               frame::Match::Partial, 0},
                      MatchRow{"StrayByte", Bytes{0x00, 0xFA, 0xF5}, frame::Match::NotAFrame, 0},
                      MatchRow{"SecondByteWrong", Bytes{0xFA, 0xFA}, frame::Match::NotAFrame, 0},
                      MatchRow{"EndPairMissing", Bytes{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x00},
                               frame::Match::NotAFrame, 0},
                      MatchRow{"EndPairSwapped", Bytes{0xFA, 0xF5, 0x06, 0x00, 0x06, 0x5F, 0xAF},
                               frame::Match::NotAFrame, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// Every length the length byte can say, up to the longest frame: the bytes a hand-written frame has,
// nothing written past them, a checksum of zero over the whole, and the frame recognised whole.
TEST(FrameEnvelope, EveryLengthBuildsTheFrameAndChecksOut) {
    for (int length = 0; length <= 255; ++length) {
        Bytes payload(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 37 + length);
        std::array<uint8_t, frame::MaxFrame + 1> out;
        out.fill(0xCC);
        const std::size_t n =
            frame::BuildEnvelope(0x0C, payload.data(), static_cast<uint8_t>(length), out.data());
        ASSERT_EQ(n, static_cast<std::size_t>(length) + 7);
        ASSERT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(n)), Frame(0x0C, payload)) << length;
        ASSERT_EQ(out[n], 0xCC) << length;
        EXPECT_EQ(frame::Checksum(out.data()), 0) << length;
        const frame::Match m = frame::MatchAt(out.data(), n);
        EXPECT_EQ(m.kind, frame::Match::Whole);
        EXPECT_EQ(m.size, n);
        out[4 + static_cast<std::size_t>(length)] ^= 0x20;  // the checksum byte itself
        EXPECT_EQ(frame::Checksum(out.data()), 0x20) << length;
    }
}

// The emulator's report and the decoder agree on every field's place: the documented report, and
// extreme values read back as written.
TEST(CanReportLayout, BuildsTheDocumentedReportAndDecodesBack) {
    const Bytes documented{0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03, 0xE7, 0x24, 0x60, 0x00,
                           0x00, 0x02, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9F, 0xAF, 0x5F};
    const CanReport built =
        BuildCanFrameReport(12, 34, 56, 999, EncodeId(0x123, false, true), 0x02, {0x11, 0x22});
    EXPECT_EQ(Bytes(built.begin(), built.end()), documented);

    const CanReport last = BuildCanFrameReport(23, 59, 59, 999, EncodeId(0x1FFFFFFF, false, false), 0x18,
                                               {1, 2, 3, 4, 5, 6, 7, 0xFE});
    FrameBuffer slot{};
    std::copy(last.begin(), last.end(), slot);
    BusEvent e;
    ASSERT_EQ(DecodeMessage(slot, false, e), Decoded::Event);
    EXPECT_EQ(e.adapterMs, 86'399'999);
    EXPECT_EQ(e.id, 0x1FFFFFFFu);
    EXPECT_TRUE(e.extended);
    EXPECT_EQ(e.info, 0x18);
    EXPECT_EQ(e.dlc, 8);
    EXPECT_EQ(e.data[0], 1);
    EXPECT_EQ(e.data[7], 0xFE);
}

}  // namespace
