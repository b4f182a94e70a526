// The fixed byte ring: order kept across the wrap, nothing stored past its capacity, and filling in place
// (as a read(2) into it does) agreeing with pushing.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "ByteRing.h"

TEST(ByteRing, KeepsOrderAcrossTheWrapAndNeverHoldsMoreThanItsCapacity) {
    ByteRing ring(8);
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(ring.Push(bytes, 6), 6u);
    uint8_t out[10] = {};
    EXPECT_EQ(ring.Pop(out, 4), 4u);  // head at 4
    EXPECT_EQ(ring.Push(bytes + 6, 4), 4u);
    EXPECT_EQ(ring.Push(bytes, 10), 2u);  // full at 8
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_EQ(ring.Pop(out, 10), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 1, 2}));
    EXPECT_TRUE(ring.Empty());
    EXPECT_EQ(ring.Pop(out, 1), 0u);
}

TEST(ByteRing, FillingInPlaceTakesTheFreeRunsInOrder) {
    ByteRing ring(8);
    const uint8_t six[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(ring.Push(six, 6), 6u);
    uint8_t out[8];
    ASSERT_EQ(ring.Pop(out, 5), 5u);  // one byte left, at index 5
    ByteRing::Span space = ring.Space();
    ASSERT_EQ(space.size, 2u);  // up to the end of the storage, not past it
    space.data[0] = 7;
    space.data[1] = 8;
    ring.Commit(2);
    space = ring.Space();
    ASSERT_EQ(space.size, 5u);  // then from the start up to the oldest byte
    std::iota(space.data, space.data + 5, uint8_t{9});
    ring.Commit(99);  // never more than the run offered
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_EQ(ring.Space().size, 0u);
    ASSERT_EQ(ring.Pop(out, 8), 8u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{6, 7, 8, 9, 10, 11, 12, 13}));
}
