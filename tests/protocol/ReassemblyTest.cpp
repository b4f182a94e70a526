// Cutting the adapter's byte stream into frames: split points, stray bytes, the carry and its
// 1000-byte rule, and the bounds (long reads, long frames, long tails).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "FrameBytes.h"
#include "Reassembly.h"

namespace {

struct Stream {
    std::unique_ptr<Reassembly> r = std::make_unique<Reassembly>();

    // One read; returns the frames it yields, each trimmed to its length byte.
    std::vector<Bytes> Read(const Bytes &bytes) {
        r->SaveMessage(bytes.data(), static_cast<int>(bytes.size()));
        return TakeAll();
    }
    std::vector<Bytes> TakeAll() {
        std::vector<Bytes> out;
        FrameBuffer f;
        while (r->TakeMessage(f)) out.emplace_back(f, f + f[3] + 7);
        return out;
    }
    Bytes Carry() const { return Bytes(r->CarryBuffer, r->CarryBuffer + r->CarryCount); }
};

const Bytes Disable{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};
const Bytes PauseOn{0xFA, 0xF5, 0x0A, 0x01, 0xFF, 0xF4, 0xAF, 0x5F};

}  // namespace

// Each row: a sequence of reads, the frames expected after each, the carry left after the last.
struct SplitCase {
    const char *name;
    std::vector<Bytes> reads;
    std::vector<std::vector<Bytes>> frames;
    Bytes carry;
};

void PrintTo(const SplitCase &c, std::ostream *os) { *os << c.name; }

class ReassemblySplits : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ReassemblySplits, FramesAndCarry) {
    const SplitCase &c = GetParam();
    Stream s;
    for (std::size_t i = 0; i < c.reads.size(); ++i)
        EXPECT_EQ(s.Read(c.reads[i]), c.frames[i]) << "read " << i;
    EXPECT_EQ(s.Carry(), c.carry);
}

const Bytes Three = Frame(0x0B, Bytes(19, 0x33));
INSTANTIATE_TEST_SUITE_P(
    Cases, ReassemblySplits,
    ::testing::Values(SplitCase{"OneFrame", {Disable}, {{Disable}}, {}},
                      SplitCase{"StrayThenCarry",
                                {Bytes{0x00, 0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F, 0xFA, 0xF5, 0x0A},
                                 Bytes{0x01, 0xFF, 0xF4, 0xAF, 0x5F}},
                                {{Disable}, {PauseOn}},
                                {}},
                      SplitCase{"TwoAndAPart",
                                {Cat({Disable, PauseOn, Bytes(Three.begin(), Three.begin() + 10)}),
                                 Bytes(Three.begin() + 10, Three.end())},
                                {{Disable, PauseOn}, {Three}},
                                {}},
                      SplitCase{"SplitAfterFirstByte",
                                {Bytes{0xFA}, Bytes(Disable.begin() + 1, Disable.end())},
                                {{}, {Disable}},
                                {}},
                      SplitCase{"StrayBeforeAndAfter",
                                {Cat({Bytes{1, 2, 3}, Disable, Bytes{4, 5, 6}}), Cat({PauseOn})},
                                {{Disable}, {PauseOn}},
                                {}},
                      SplitCase{
                          "StrayAfterStaysCarried", {Cat({Disable, Bytes{4, 5, 6}})}, {{Disable}}, {4, 5, 6}},
                      SplitCase{"EndsOnFrameEnd", {Disable, PauseOn}, {{Disable}, {PauseOn}}, {}},
                      SplitCase{"LengthReachesPastRead",
                                {Bytes{0xFA, 0xF5, 0x0A, 0x05, 1, 2}, Bytes{3, 4, 5, 0x0F, 0xAF, 0x5F}},
                                {{}, {Bytes{0xFA, 0xF5, 0x0A, 0x05, 1, 2, 3, 4, 5, 0x0F, 0xAF, 0x5F}}},
                                {}},
                      SplitCase{"WrongEndPairSkipsOne",
                                {Cat({Bytes{0xFA, 0xF5, 0x00, 0x00, 0x00, 0x12, 0x34}, Disable})},
                                {{Disable}},
                                {}},
                      SplitCase{"EmptyRead", {Bytes{}}, {{}}, {}}),
    [](const auto &info) { return info.param.name; });

// The 1000-byte rule: a carry longer than 1000 bytes loses its stray bytes at the next read, but not
// the start of a frame that the next read completes (such a start lies in the last 261 bytes).
Bytes Zeros(std::size_t n) { return Bytes(n, 0x00); }
const Bytes Longest = [] {
    Bytes payload(255);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    return Frame(0x0C, payload);
}();
const Bytes LongHead{0xFA, 0xF5, 0x0A, 0xFF};  // a start whose length byte reaches 262 bytes
INSTANTIATE_TEST_SUITE_P(
    CarryRule, ReassemblySplits,
    ::testing::Values(
        // A frame, 999 stray bytes and the start of a report; the rest of the report in the next read.
        SplitCase{"FrameStraddlesAfterLongNoise",
                  {Cat({Disable, Zeros(999), Bytes(Three.begin(), Three.begin() + 10)}),
                   Bytes(Three.begin() + 10, Three.end())},
                  {{Disable}, {Three}},
                  {}},
        SplitCase{"ThousandCarried",
                  {Cat({Zeros(999), Bytes{0xFA}}), Bytes(Disable.begin() + 1, Disable.end())},
                  {{}, {Disable}},
                  {}},
        SplitCase{"ThousandOneCarried",
                  {Cat({Zeros(1000), Bytes{0xFA}}), Bytes(Disable.begin() + 1, Disable.end())},
                  {{}, {Disable}},
                  {}},
        SplitCase{"LongestFrameMissingItsLastByte",
                  {Cat({Zeros(1000), Bytes(Longest.begin(), Longest.end() - 1)}), Bytes{0x5F}},
                  {{}, {Longest}},
                  {}},
        // The strays in front of a kept start are gone: what is carried next is the start onwards.
        SplitCase{"StartInTheLast262IsKept",
                  {Cat({Zeros(1000), LongHead, Zeros(200)}), Bytes{1, 2, 3}},
                  {{}, {}},
                  Cat({LongHead, Zeros(200), Bytes{1, 2, 3}})},
        // A start 262 bytes before the end was already judged with all its bytes: not kept.
        SplitCase{"StartBeforeTheLast262IsDropped",
                  {Cat({Zeros(1000), LongHead, Zeros(258)}), Bytes{1, 2, 3}},
                  {{}, {}},
                  Bytes{1, 2, 3}},
        SplitCase{"StraysAloneAreDropped", {Zeros(1001), Bytes{1, 2, 3}}, {{}, {}}, Bytes{1, 2, 3}},
        SplitCase{"ThousandStraysStay",
                  {Zeros(1000), Bytes{1, 2, 3}},
                  {{}, {}},
                  Cat({Zeros(1000), Bytes{1, 2, 3}})}),
    [](const auto &info) { return info.param.name; });

TEST(Reassembly, EmptyQueueLeavesBufferAlone) {
    Stream s;
    FrameBuffer f;
    std::fill(std::begin(f), std::end(f), 0x77);
    EXPECT_FALSE(s.r->TakeMessage(f));
    EXPECT_EQ(f[0], 0x77);
}

// Every cut of one long stream into two reads, and random cuts into many, yield the same frames in order.
TEST(Reassembly, AnySplitGivesTheSameFrames) {
    std::mt19937 random(7);
    Bytes stream;
    std::vector<Bytes> expected;
    for (int i = 0; i < 40; ++i) {
        if (i % 5 == 0)
            stream.insert(stream.end(), {0x11, 0xFA, 0x22});  // stray, including a lone start byte
        Bytes payload(random() % 30);
        for (auto &b : payload) b = static_cast<uint8_t>(random());
        const Bytes f = Frame(static_cast<uint8_t>(random() % 14), payload);
        stream.insert(stream.end(), f.begin(), f.end());
        expected.push_back(f);
    }
    ASSERT_EQ(Stream().Read(stream), expected);

    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Stream s;
        auto got = s.Read(Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
        const auto rest = s.Read(Bytes(stream.begin() + static_cast<long>(cut), stream.end()));
        got.insert(got.end(), rest.begin(), rest.end());
        ASSERT_EQ(got, expected) << "cut at " << cut;
    }
    for (int round = 0; round < 200; ++round) {
        Stream s;
        std::vector<Bytes> got;
        for (std::size_t pos = 0; pos < stream.size();) {
            const std::size_t n = std::min<std::size_t>(stream.size() - pos, random() % 60);
            const auto part = s.Read(
                Bytes(stream.begin() + static_cast<long>(pos), stream.begin() + static_cast<long>(pos + n)));
            got.insert(got.end(), part.begin(), part.end());
            pos += n;
        }
        ASSERT_EQ(got, expected) << "round " << round;
    }
}

// A full read of CAN frame reports and a read of the shortest frames both come out whole.
TEST(Reassembly, FullReadsLoseNoFrame) {
    for (const std::size_t payload : {std::size_t{19}, std::size_t{0}}) {
        Stream s;
        const Bytes f = Frame(0x0B, Bytes(payload, 0x5A));
        Bytes read;
        while (read.size() + f.size() <= reassembly::MaxReadSize) read.insert(read.end(), f.begin(), f.end());
        const std::size_t count = read.size() / f.size();
        read.resize(reassembly::MaxReadSize, 0xFA);  // the rest: start bytes of nothing
        s.r->SaveMessage(read.data(), static_cast<int>(read.size()));
        EXPECT_EQ(s.r->FrameQueueCount, static_cast<int>(count));
        EXPECT_EQ(s.TakeAll().size(), count);
        EXPECT_EQ(s.r->DroppedFrames, 0);
    }
}

// The largest carry the 1000-byte rule keeps, followed by a full read of the shortest frames: the
// queue holds every one of them.
TEST(Reassembly, QueueHoldsTheMostOneSaveCanCut) {
    Stream s;
    // Carry exactly 1000 bytes: a frame whose end pair is missing leaves all of them unfinished.
    Bytes first{0xFA, 0xF5, 0x00, 0xFF};
    first.resize(1000, 0x00);
    EXPECT_TRUE(s.Read(first).empty());
    ASSERT_EQ(s.r->CarryCount, 1000);
    Bytes read;
    while (read.size() + Disable.size() <= reassembly::MaxReadSize)
        read.insert(read.end(), Disable.begin(), Disable.end());
    s.r->SaveMessage(read.data(), static_cast<int>(read.size()));
    EXPECT_EQ(s.r->FrameQueueCount, static_cast<int>(read.size() / Disable.size()));
    EXPECT_EQ(s.r->DroppedFrames, 0);
    EXPECT_EQ(s.TakeAll().size(), read.size() / Disable.size());
}

TEST(Reassembly, TwoThousandFramesInOneRead) {
    Stream s;
    Bytes read;
    for (int i = 0; i < 2000; ++i) {
        const Bytes f = Frame(0x0B, Bytes{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)});
        read.insert(read.end(), f.begin(), f.end());
    }
    const auto frames = s.Read(read);
    ASSERT_EQ(frames.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(frames[i][4] | frames[i][5] << 8, i);
}

TEST(Reassembly, LongestFrameAndZeroesBehindShortOnes) {
    Stream s;
    Bytes payload(255);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    const Bytes longest = Frame(0x0C, payload);
    ASSERT_EQ(longest.size(), 262u);
    EXPECT_EQ(s.Read(Cat({longest, Disable})), (std::vector<Bytes>{longest, Disable}));

    // The slot that held the long frame now holds a short one: nothing of the long one shows behind it.
    s.r->SaveMessage(longest.data(), static_cast<int>(longest.size()));
    s.r->SaveMessage(Disable.data(), static_cast<int>(Disable.size()));
    FrameBuffer f;
    ASSERT_TRUE(s.r->TakeMessage(f));
    ASSERT_TRUE(s.r->TakeMessage(f));
    for (std::size_t i = Disable.size(); i < reassembly::FrameBufferSize; ++i) ASSERT_EQ(f[i], 0) << i;
}

// A slot is cleared only as far as its previous frame reached: a short frame cut into the very slot a
// long one left must still show nothing of it; MessIdent on a caller's buffer clears all of it.
TEST(Reassembly, ShortFrameInTheSlotALongOneLeftShowsOnlyZeros) {
    Stream s;
    Bytes payload(255, 0xEE);
    const Bytes longest = Frame(0x0C, payload);
    for (const Bytes &shortOne : {Disable, PauseOn}) {
        s.r->SaveMessage(longest.data(), static_cast<int>(longest.size()));
        FrameBuffer f;
        ASSERT_TRUE(s.r->TakeMessage(f));  // queue empty again: the next frame goes to the same slot
        ASSERT_EQ(s.r->FrameQueueHead, 0);
        s.r->SaveMessage(shortOne.data(), static_cast<int>(shortOne.size()));
        ASSERT_TRUE(s.r->TakeMessage(f));
        ASSERT_TRUE(std::equal(shortOne.begin(), shortOne.end(), f));
        for (std::size_t i = shortOne.size(); i < reassembly::FrameBufferSize; ++i) ASSERT_EQ(f[i], 0) << i;
    }
    FrameBuffer f;
    for (std::size_t i = 0; i < reassembly::FrameBufferSize; ++i) f[i] = 0xEE;
    int pos = 0, carry = 0;
    ASSERT_TRUE(MessIdent(Disable.data(), static_cast<int>(Disable.size()), pos, carry, f));
    for (std::size_t i = Disable.size(); i < reassembly::FrameBufferSize; ++i) ASSERT_EQ(f[i], 0) << i;
}

TEST(Reassembly, TailLongerThanCarryBufferIsBoundedAndDropped) {
    Stream s;
    Bytes read = Disable;
    read.resize(reassembly::MaxReadSize, 0x00);
    read[20000] = 0xFA;  // an unfinished start far into the tail
    EXPECT_EQ(s.Read(read).size(), 1u);
    EXPECT_EQ(s.r->CarryCount, static_cast<int>(reassembly::CarryBufferSize));
    // Over 1000 bytes: gone at the next read, which is scanned alone.
    EXPECT_EQ(s.Read(PauseOn), std::vector<Bytes>{PauseOn});
    EXPECT_EQ(s.r->CarryCount, 0);
}

TEST(Reassembly, RingKeepsOrderAcrossWrap) {
    Stream s;
    int next = 0, expect = 0;
    for (int round = 0; round < 5; ++round) {
        Bytes read;
        for (int i = 0; i < 1500; ++i, ++next) {
            const Bytes f = Frame(0x01, Bytes{static_cast<uint8_t>(next), static_cast<uint8_t>(next >> 8)});
            read.insert(read.end(), f.begin(), f.end());
        }
        s.r->SaveMessage(read.data(), static_cast<int>(read.size()));
        // Take only part, then save more on top: the queue wraps around its end.
        FrameBuffer f;
        for (int i = 0; i < 1000; ++i, ++expect) {
            ASSERT_TRUE(s.r->TakeMessage(f));
            ASSERT_EQ(f[4] | f[5] << 8, expect & 0xFFFF);
        }
    }
    for (const Bytes &f : s.TakeAll()) ASSERT_EQ(f[4] | f[5] << 8, (expect++) & 0xFFFF);
    EXPECT_EQ(expect, next);
    EXPECT_EQ(s.r->DroppedFrames, 0);
}
