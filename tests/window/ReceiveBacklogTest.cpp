// The receive path keeps up with a saturated bus through the real window.
#include "ReceiveFixture.h"

// A saturated 1 Mbit/s bus (about 21,300 reports/s) for a second: every report is counted.
TEST_F(ReceiveWindow, SaturatedBusLosesNothing) {
    PlugAndFind();
    TrafficRates rates;
    rates.canFrames = 21300;
    firmware->StartGenerator(rates);
    ASSERT_TRUE(FramesGoOut(21300));  // about a second of it
    firmware->StopGenerator();
    const auto sent = static_cast<int32_t>(firmware->CanFramesSent());
    EXPECT_GT(sent, 5000);
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() == sent; }, 2 * ReceiveWaitMs))
        << Show(MessageCount.load()) << " of " << sent;
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString::number(sent); }, ReceiveWaitMs));
}
