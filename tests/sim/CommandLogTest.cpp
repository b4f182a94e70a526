#include <gtest/gtest.h>

#include <vector>

#include "CommandLog.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes CanDisable{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};
const Bytes PauseOn{0xFA, 0xF5, 0x0A, 0x01, 0xFF, 0xF4, 0xAF, 0x5F};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Row {
    const char *name;
    Bytes stream;
    std::vector<Bytes> frames;
    std::size_t skipped;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

class CommandLogRows : public ::testing::TestWithParam<Row> {};

// Fed whole, and fed one byte at a time: the cut must not depend on how the writes were split.
TEST_P(CommandLogRows, CutsTheStream) {
    const Row &r = GetParam();
    for (bool byByte : {false, true}) {
        CommandLog log;
        if (byByte)
            for (uint8_t b : r.stream) log.Feed(&b, 1);
        else
            log.Feed(r.stream.data(), r.stream.size());
        const auto frames = log.Frames();
        ASSERT_EQ(frames.size(), r.frames.size()) << (byByte ? "byte by byte" : "whole");
        for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].bytes, r.frames[i]);
        EXPECT_EQ(log.SkippedBytes(), r.skipped);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLogRows,
    ::testing::Values(
        Row{"BackToBack", Join({CanDisable, PauseOn}), {CanDisable, PauseOn}, 0},
        Row{"JunkBefore", Join({{0x00, 0xFA, 0x11}, CanDisable}), {CanDisable}, 3},
        Row{"BrokenEndPair", Join({{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x00}, PauseOn}), {PauseOn}, 7},
        Row{"EnvelopeInsidePayload",
            {0xFA, 0xF5, 0x03, 0x04, 0xFA, 0xF5, 0xAF, 0x5F, 0xF8, 0xAF, 0x5F},
            {{0xFA, 0xF5, 0x03, 0x04, 0xFA, 0xF5, 0xAF, 0x5F, 0xF8, 0xAF, 0x5F}},
            0},
        Row{"Truncated", {0xFA, 0xF5, 0x0A, 0x01, 0xFF}, {}, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CommandLog, RecordsTypePayloadChecksumAndOrder) {
    CommandLog log;
    Bytes bad = PauseOn;
    bad[5] ^= 1;
    const Bytes stream = Join({PauseOn, bad});
    log.Feed(stream.data(), stream.size());
    const auto frames = log.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, 10);
    EXPECT_EQ(frames[0].payload, Bytes{0xFF});
    EXPECT_TRUE(frames[0].checksumOk);
    EXPECT_FALSE(frames[1].checksumOk);
    EXPECT_LE(frames[0].arrived, frames[1].arrived);
    EXPECT_TRUE(log.WaitForCount(2, std::chrono::milliseconds(0)));
    log.Clear();
    EXPECT_EQ(log.Count(), 0u);
}

}  // namespace
