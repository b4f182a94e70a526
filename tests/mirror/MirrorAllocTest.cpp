// The pump's side of the mirror allocates nothing: a frame is copied into the bus port's ring and the bus
// thread is woken without a queued call. Global operator new is replaced for this whole test program; it
// counts only on a thread that armed it.
#include <cstdlib>
#include <new>

#include "CountingNew.h"
#include "MirrorFixture.h"
#include "TestFrames.h"


namespace {

TEST_F(MirrorTest, HandingFramesToTheBusAllocatesNothing) {
    StartMirror();
    {
        counting = true;
        auto probe = std::make_unique<int>(1);
        counting = false;
        ASSERT_EQ(allocations.exchange(0), 1) << "the counter does not count";
    }
    constexpr int Frames = 3000;
    BusEvent batch[2] = {FrameEvent(0, 8, false, {1, 2, 3, 4, 5, 6, 7, 8}), BusErrorEvent(buserror::AckBit)};
    // In small batches with the bus thread draining between them, so that it is woken many times.
    counting = true;
    for (int i = 0; i < Frames; ++i) {
        batch[0].id = static_cast<uint32_t>(i & 0x7FF);
        mirror->Take(batch);  // the bus error is not carried by this plugin: counted only
        if (i % 100 == 99) {
            counting = false;
            ASSERT_TRUE(Wait([&] { return mirror->Counts().toBus == HandshakeFrames + i + 1; }));
            counting = true;
        }
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(mirror->Counts().toBusOverflow, 0u);
    ASSERT_TRUE(Wait([&] { return heard.size() == Frames; }));
}

}  // namespace
