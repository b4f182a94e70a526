// A backlog larger than one read: the receive pass keeps reading while reads come back full, so the
// program keeps up with a link that brings more than 32 KiB per poll.
#include "Reassembly.h"
#include "ReceiveFixture.h"

TEST_F(ReceiveWindow, OnePassReadsTheWholeBacklog) {
    PlugAndFind();
    // About 4.8 reads' worth: one read per pass would leave most of it in the link for later polls.
    constexpr int Reports = 6000;
    static_assert(Reports * CanReportSize > 4 * reassembly::MaxReadSize);
    BusFrame f;
    f.length = 2;
    for (int i = 0; i < Reports; ++i) {
        f.identifier = static_cast<uint32_t>(i % 0x800);
        f.data[0] = static_cast<uint8_t>(i >> 8);
        f.data[1] = static_cast<uint8_t>(i);
        ASSERT_TRUE(firmware->SendCanFrame(f));
    }
    // Whoever pumps meanwhile (the receive thread may), a pass that ends has left nothing waiting.
    w->ReceiveData();
    EXPECT_EQ(TheSimAdapter().BytesToHost(), 0u);
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() == Reports; }, ReceiveWaitMs))
        << Show(MessageCount.load());
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblData) == QString("17  6F  "); }, ReceiveWaitMs))
        << Show(Text(w->lblData));
}

// A saturated 1 Mbit/s bus (about 21,300 reports/s) for a second: every report is counted.
TEST_F(ReceiveWindow, SaturatedBusLosesNothing) {
    PlugAndFind();
    TrafficRates rates;
    rates.canFrames = 21300;
    firmware->StartGenerator(rates);
    QTest::qWait(1000);
    firmware->StopGenerator();
    const auto sent = static_cast<int32_t>(firmware->CanFramesSent());
    EXPECT_GT(sent, 5000);
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() == sent; }, 2 * ReceiveWaitMs))
        << Show(MessageCount.load()) << " of " << sent;
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString::number(sent); }, ReceiveWaitMs));
}
