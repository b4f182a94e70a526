// The pump's side of the mirror allocates nothing: a frame is copied into the bus port's ring and the bus
// thread is woken without a queued call. Global operator new is replaced for this whole test program; it
// counts only on a thread that armed it.
#include <cstdlib>
#include <new>

#include "CountingNew.h"
#include "MirrorFixture.h"


namespace {

TEST_F(MirrorTest, HandingFramesToTheBusAllocatesNothing) {
    StartMirror();
    {
        counting = true;
        auto probe = std::make_unique<int>(1);
        counting = false;
        ASSERT_EQ(allocations.exchange(0), 1) << "the counter does not count";
    }
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    constexpr int Frames = 3000;
    // In small batches with the bus thread draining between them, so that it is woken many times.
    counting = true;
    for (int i = 0; i < Frames; ++i) {
        mirror->CanFrameWithRemote(0, 0, 0, i % 1000, static_cast<uint32_t>(i & 0x7FF), 8, false, data);
        mirror->BusError(buserror::AckBit);  // not carried by this plugin: counted only
        if (i % 100 == 99) {
            mirror->EndOfPump();
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
