// The small routines: checksum, time check, zero padding, hex text, and Delay with a fake clock and a
// real one.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <string>
#include <vector>

#include "unitMy.h"

namespace {

TEST(XorChecksum, CoversTheInclusiveRange) {
    const uint8_t frame[] = {0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};  // "CAN Disable"
    EXPECT_EQ(XorChecksum(frame, 2, 2), 0x06);                           // a single index is that byte
    EXPECT_EQ(XorChecksum(frame, 2, 3), 0x06);
    EXPECT_EQ(XorChecksum(frame, 4, 3), 0x00);  // To before From
    EXPECT_EQ(XorChecksum(frame, 6, 0), 0x00);
    // An inbound frame checked over type, length, payload and checksum gives 0.
    const uint8_t report[] = {0xFA, 0xF5, 0x0B, 0x03, 0x12, 0x34, 0x56, 0x0B ^ 0x03 ^ 0x12 ^ 0x34 ^ 0x56,
                              0xAF, 0x5F};
    EXPECT_EQ(XorChecksum(report, 2, 7), 0x00);
    EXPECT_EQ(XorChecksum(report, 2, 6), report[7]);
}

TEST(XorChecksum, ReachesTheLastByteOfALongestFrame) {
    std::vector<uint8_t> data(256, 0);
    data[255] = 0x5A;
    EXPECT_EQ(XorChecksum(data.data(), 250, 255), 0x5A);
}

TEST(TimeValid, AcceptsExactlyTheTimesOfADay) {
    EXPECT_TRUE(TimeValid(0, 0, 0, 0));
    EXPECT_TRUE(TimeValid(23, 59, 59, 999));
    EXPECT_FALSE(TimeValid(24, 0, 0, 0));
    EXPECT_FALSE(TimeValid(0, 60, 0, 0));
    EXPECT_FALSE(TimeValid(0, 0, 60, 0));
    EXPECT_FALSE(TimeValid(0, 0, 0, 1000));
    EXPECT_FALSE(TimeValid(255, 255, 255, 65535));
}

TEST(ZeroPad, PadsAndTreatsOutOfRangeAsZero) {
    const std::pair<int, const char *> two[] = {{0, "00"},  {7, "07"},   {42, "42"},
                                                {99, "99"}, {100, "00"}, {-1, "00"}};
    for (const auto &[n, text] : two) EXPECT_EQ(ZeroPad2(n), text) << n;
    const std::pair<int, const char *> three[] = {{7, "007"},    {42, "042"}, {999, "999"},
                                                  {1000, "000"}, {-1, "000"}, {0, "000"}};
    for (const auto &[n, text] : three) EXPECT_EQ(ZeroPad3(n), text) << n;
}

TEST(HexToInt, EveryCharacterIsADigit) {
    const std::pair<const char *, uint32_t> rows[] = {
        {"2B6", 0x2B6}, {"2b6", 0x2B6}, {"02B6", 0x2B6}, {"0x2B6", 0x2B6},         {"123456789", 0x23456789},
        {"", 0},        {"1 2", 0x102}, {"G", 0},        {"FFFFFFFF", 0xFFFFFFFF},
    };
    for (const auto &[text, value] : rows) EXPECT_EQ(HexToInt(text), value) << '"' << text << '"';
}

TEST(ParseHexBytes, PairsDigitsWithinRuns) {
    struct Row {
        const char *text;
        std::vector<uint8_t> bytes;
    };
    const Row rows[] = {
        {"A", {0x0A}},
        {"7B A", {0x7B, 0x0A}},
        {"   ", {}},
        {"", {}},
        {"xyz", {}},
        {"FFA", {0xFF, 0x0A}},
        {"F 7B", {0x0F, 0x7B}},
        {"ABC", {0xAB, 0x0C}},
        {"1,2;3", {0x01, 0x02, 0x03}},
        {"FF 7B 4A E8 AD", {0xFF, 0x7B, 0x4A, 0xE8, 0xAD}},
        {"ff7b4ae8ad", {0xFF, 0x7B, 0x4A, 0xE8, 0xAD}},
        {"1 2 3 4 5 6 7 8 9 A", {1, 2, 3, 4, 5, 6, 7, 8}},  // groups after the eighth are ignored
        {"0102030405060708090A0B", {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        uint8_t data[8];
        std::fill(std::begin(data), std::end(data), 0xEE);  // stale bytes must not survive
        const int count = ParseHexBytes(row.text, data);
        ASSERT_EQ(count, static_cast<int>(row.bytes.size()));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(data[i], i < count ? row.bytes[i] : 0) << "byte " << i;
    }
}

// ---- Delay with a fake clock ----

uint32_t fakeNow = 0;
int pumps = 0;
uint32_t lastMaxWait = 0;
uint32_t FakeTick() { return fakeNow; }
void FakePump(uint32_t maxWaitMs) {
    ++pumps;
    lastMaxWait = maxWaitMs;
    fakeNow += 7;  // each pass of the loop lets 7 ms go by
}

class DelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        pumps = 0;
        SetDelayHooks(DelayHooks{&FakeTick, &FakePump});
    }
    void TearDown() override { SetDelayHooks(DefaultDelayHooks()); }
};

TEST_F(DelayTest, ZeroReturnsWithoutDispatching) {
    fakeNow = 1000;
    Delay(0);
    EXPECT_EQ(pumps, 0);
}

TEST_F(DelayTest, WaitsAtLeastTheTimeAndEndsAtTheFirstTestAfterIt) {
    for (uint32_t start : {1000u, 0xFFFFFFF0u, 0xFFFFFFFFu, 0xFFFFFF9Cu}) {  // the last wraps exactly at 100
        SCOPED_TRACE(start);
        fakeNow = start;
        pumps = 0;
        Delay(100);
        const uint32_t elapsed = fakeNow - start;
        EXPECT_GE(elapsed, 100u);
        EXPECT_LT(elapsed, 107u);
        EXPECT_EQ(pumps, 15);
        EXPECT_LE(lastMaxWait, 100u);
    }
}

// ---- Delay with the real clock and the application's event loop ----

TEST(DelayReal, DispatchesEventsWhileWaiting) {
    SetDelayHooks(DefaultDelayHooks());
    bool fired = false;
    QTimer::singleShot(20, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    Delay(100);
    const qint64 elapsed = clock.elapsed();
    EXPECT_TRUE(fired);
    EXPECT_GE(elapsed, 99);  // millisecond ticks: the start may fall late in its millisecond
    EXPECT_LT(elapsed, 3000);
}

}  // namespace
