// The small routines: checksum, time check, zero padding, hex text, and Delay with a fake clock and a
// real one.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
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

// ---- Delay with a fake clock and a fake event queue ----
//
// The clock moves only when something takes time: a handler, or a wait. Events are due at given ticks;
// Dispatch runs those already due, Wait sleeps until the next one is due (then runs it) or the time given
// has passed. `wake` makes a wait end early, as an unrelated event would.

struct FakeEvent {
    uint32_t due;
    std::function<void()> handler;
};

struct FakeLoop {
    uint32_t now = 0;
    std::deque<FakeEvent> events;  // in order of due time
    uint32_t wake = 0;             // 0: a wait lasts until an event or its end
    int dispatches = 0, waits = 0;
    uint32_t lastMaxWait = 0;

    bool Due(const FakeEvent &e) const { return static_cast<int32_t>(now - e.due) >= 0; }
    void RunDue() {
        while (!events.empty() && Due(events.front())) {
            FakeEvent e = std::move(events.front());
            events.pop_front();
            e.handler();
        }
    }
};

FakeLoop loop;

uint32_t FakeTick() { return loop.now; }
void FakeDispatch() {
    ++loop.dispatches;
    loop.RunDue();
}
void FakeWait(uint32_t maxWaitMs) {
    ++loop.waits;
    loop.lastMaxWait = maxWaitMs;
    uint32_t sleep = maxWaitMs;
    if (loop.wake != 0) sleep = std::min(sleep, loop.wake);
    if (!loop.events.empty()) sleep = std::min(sleep, loop.events.front().due - loop.now);
    loop.now += sleep;
    loop.RunDue();
}

class DelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop = FakeLoop{};
        SetDelayHooks(DelayHooks{&FakeTick, &FakeDispatch, &FakeWait});
    }
    void TearDown() override {
        SetDelayHooks(DefaultDelayHooks());
        loop = FakeLoop{};
    }
};

TEST_F(DelayTest, ZeroReturnsWithoutDispatching) {
    loop.now = 1000;
    bool ran = false;
    loop.events.push_back({1000, [&ran] { ran = true; }});
    Delay(0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(loop.dispatches + loop.waits, 0);
}

// Waits that end early (every 7 ms) until the time is up; the last one asks only for what is left.
TEST_F(DelayTest, WaitsAtLeastTheTimeAndEndsAtTheFirstTestAfterIt) {
    for (uint32_t start : {1000u, 0xFFFFFFF0u, 0xFFFFFFFFu, 0xFFFFFF9Cu}) {  // the last wraps exactly at 100
        SCOPED_TRACE(start);
        loop = FakeLoop{};
        loop.now = start;
        loop.wake = 7;
        Delay(100);
        EXPECT_EQ(loop.now - start, 100u);
        EXPECT_EQ(loop.waits, 15);
        EXPECT_EQ(loop.lastMaxWait, 2u);  // 98 ms had passed
    }
}

// The first of two command sequences sends a frame, waits 100 ms and sends the next. Whatever runs in
// its wait may hold the next frame up by its own duration, never by that plus the wait.
struct HeldUpRow {
    const char *name;
    uint32_t arrives;  // when the other event is due, from the first sequence's frame
    uint32_t takes;    // how long its handler runs
    bool sequence;     // the handler is a second sequence: frame, Delay(100), frame
    uint32_t nextFrame;
};

void PrintTo(const HeldUpRow &r, std::ostream *os) { *os << r.name; }

class DelayHeldUp : public DelayTest, public ::testing::WithParamInterface<HeldUpRow> {};

TEST_P(DelayHeldUp, NextFrameWaitsOnlyForTheTimeOrTheHandlers) {
    const HeldUpRow &row = GetParam();
    std::vector<std::pair<char, uint32_t>> frames;  // sequence, tick
    loop.now = 5000;
    loop.events.push_back({5000 + row.arrives, [&row, &frames] {
                               if (row.sequence) {
                                   frames.push_back({'B', loop.now});
                                   Delay(100);
                                   frames.push_back({'B', loop.now});
                               }
                               loop.now += row.takes;
                           }});
    frames.push_back({'A', loop.now});
    Delay(100);
    frames.push_back({'A', loop.now});
    ASSERT_EQ(frames.back().first, 'A');
    EXPECT_EQ(frames.back().second - 5000, row.nextFrame);
    EXPECT_EQ(loop.events.empty(), row.arrives < 100) << "what is due within the wait runs in it";
}

INSTANTIATE_TEST_SUITE_P(Rows, DelayHeldUp,
                         ::testing::Values(HeldUpRow{"NothingHappens", 500, 0, false, 100},
                                           HeldUpRow{"ShortHandlerPendingAtTheStart", 0, 90, false, 100},
                                           HeldUpRow{"LongHandlerPendingAtTheStart", 0, 150, false, 150},
                                           HeldUpRow{"HandlerDuringTheWait", 20, 90, false, 110},
                                           HeldUpRow{"HandlerAtTheLastMoment", 99, 1, false, 100},
                                           HeldUpRow{"SecondSequencePendingAtTheStart", 0, 0, true, 100},
                                           HeldUpRow{"SecondSequenceDuringTheWait", 30, 0, true, 130},
                                           HeldUpRow{"SecondSequenceThenWork", 0, 40, true, 140}),
                         [](const auto &info) { return std::string(info.param.name); });

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
