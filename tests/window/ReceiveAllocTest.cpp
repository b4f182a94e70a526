// A pump of many frames allocates no more than a pump of one: nothing is allocated per frame. Global
// operator new is replaced for this whole test program; it counts only on a thread that armed it.
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <new>

#include "CountingNew.h"
#include "ReceiveFixture.h"

class ReceiveAlloc : public ReceiveWindow {
protected:
    // Puts `frames` reports on the link and runs one pump on this thread; returns its allocations.
    long PumpOf(int frames) {
        Bytes burst;
        for (int i = 0; i < frames; ++i)
            burst.insert(burst.end(), CanReport1234.begin(), CanReport1234.end());
        Inject(burst);
        allocations.store(0);
        counting = true;
        w->FTReceiveFileExecute();
        counting = false;
        return allocations.load();
    }
};

TEST_F(ReceiveAlloc, ThousandFramesCostNoMoreThanOne) {
    PlugAndFind();
    w->Timer1->stop();
    DevicePresent.store(false);  // the receive thread stays off the link; the pump below runs here
    {
        const auto gate = EnterPumpGate();  // a pass already under way has finished
    }

    {
        allocations.store(0);
        counting = true;
        auto probe = std::make_unique<int>(1);
        counting = false;
        ASSERT_EQ(allocations.load(), 1) << "the counter does not count";
    }
    const int32_t before = MessageCount.load();
    const long one = PumpOf(1);
    const long thousand = PumpOf(1000);
    EXPECT_EQ(MessageCount.load(), before + 1001);
    EXPECT_LE(thousand, one + 2) << "one frame: " << one << ", a thousand: " << thousand;
    EXPECT_LT(thousand, 100);
}
