// The receive path end to end: bytes the emulated adapter sends travel through the receive thread, the
// cutting and the decoding to the window's labels and counters.
#include <QAction>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>

#include "ReceiveFixture.h"

TEST_F(ReceiveWindow, ReportAppearsInTheLabelsAndCountsOnce) {
    PlugAndFind();
    Inject(CanReport1234);
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblTime) == QString("12:34:56.999"); }, ReceiveWaitMs))
        << Show(Text(w->lblTime));
    EXPECT_EQ(Text(w->lblID), "00000123");
    EXPECT_EQ(Text(w->lblData), "11  22  ");
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString("1"); }, ReceiveWaitMs))
        << Show(Text(w->lblMessCount));
    // A few more passes must not count it again.
    ASSERT_TRUE(PassesGoOn(5));
    EXPECT_EQ(MessageCount.load(), 1);
    EXPECT_EQ(Text(w->lblMessCount), "1");
}

TEST_F(ReceiveWindow, FramesFromTheAdaptersClockAndCommandReports) {
    PlugAndFind();
    firmware->SetClock(23, 59, 59, 0);
    BusFrame f;
    f.identifier = 0x1ABCDEF;
    f.extended = true;
    f.length = 3;
    f.data = {0xFF, 0x7B, 0x01, 0x99, 0, 0, 0, 0};
    ASSERT_TRUE(firmware->SendCanFrame(f));
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblID) == QString("01ABCDEF"); }, ReceiveWaitMs))
        << Show(Text(w->lblID));
    EXPECT_EQ(Text(w->lblData), "FF  7B  01  ");
    EXPECT_TRUE(Text(w->lblTime).startsWith("23:59:") || Text(w->lblTime).startsWith("0:00:"))
        << Text(w->lblTime).toStdString();

    Inject({0xFA, 0xF5, 0x0A, 0x00, 0x0A, 0xAF, 0x5F});
    ASSERT_TRUE(WaitFor([&] { return w->StatusPanel1->text() == QString("  Pause"); }, ReceiveWaitMs))
        << Show(w->StatusPanel1->text());
    Inject({0xFA, 0xF5, 0x05, 0x00, 0x05, 0xAF, 0x5F});
    ASSERT_TRUE(WaitFor([&] { return w->StatusPanel1->text() == QString("  Res"); }, ReceiveWaitMs))
        << Show(w->StatusPanel1->text());
}

TEST_F(ReceiveWindow, PauseStopsFramesButNotErrors) {
    PlugAndFind();
    Inject(CanReport1234);
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString("1"); }, ReceiveWaitMs))
        << Show(Text(w->lblMessCount));

    PauseState.store(1);
    Bytes other = CanReport1234;  // the same frame at 11:34:56.999
    other[5] = 0x0B;
    other[23] ^= 0x0C ^ 0x0B;
    Inject(other);
    Inject({0xFA, 0xF5, 0x0D, 0x01, 0x0C, 0x00, 0xAF, 0x5F});  // stuff and CRC, behind the frame
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessError) == QString("2"); }, ReceiveWaitMs))
        << Show(Text(w->lblMessError));
    EXPECT_EQ(w->lblMessError->toolTip(), "Stuff: 1, CRC: 1, Form: 0, Ack: 0");
    EXPECT_EQ(Text(w->lblTime), "12:34:56.999");
    EXPECT_EQ(Text(w->lblMessCount), "1");
    EXPECT_EQ(MessageCount.load(), 1);

    PauseState.store(0);
    Inject(other);
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblTime) == QString("11:34:56.999"); }, ReceiveWaitMs))
        << Show(Text(w->lblTime));
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString("2"); }, ReceiveWaitMs))
        << Show(Text(w->lblMessCount));
}

TEST_F(ReceiveWindow, ClearZeroesCountersAndKeepsTheFrame) {
    PlugAndFind();
    Inject(CanReport1234);
    Inject({0xFA, 0xF5, 0x0D, 0x01, 0x0F, 0x03, 0xAF, 0x5F});  // all four kinds
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessError) == QString("4"); }, ReceiveWaitMs))
        << Show(Text(w->lblMessError));
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblMessCount) == QString("1"); }, ReceiveWaitMs))
        << Show(Text(w->lblMessCount));

    QTest::mouseClick(w->btnClear, Qt::LeftButton);
    EXPECT_EQ(Text(w->lblMessCount), "0");
    EXPECT_EQ(Text(w->lblMessError), "0");
    EXPECT_EQ(w->lblMessError->toolTip(), "Stuff: 0, CRC: 0, Form: 0, Ack: 0");
    EXPECT_EQ(Text(w->lblTime), "12:34:56.999");
    EXPECT_EQ(Text(w->lblID), "00000123");
}

TEST_F(ReceiveWindow, CtrlRWithNothingWaitingChangesNothing) {
    PlugAndFind();
    const QString time = Text(w->lblTime), count = Text(w->lblMessCount), status = w->StatusPanel1->text();
    const uint64_t reads = TheSimAdapter().CallCount(SimOp::Read);
    QTest::keyClick(w.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Text(w->lblTime), time);
    EXPECT_EQ(Text(w->lblMessCount), count);
    EXPECT_EQ(w->StatusPanel1->text(), status);
    // The pump ran on this thread, unless the receive thread was pumping at that moment.
    EXPECT_GE(TheSimAdapter().CallCount(SimOp::Read), reads);
    // And the presence watch still runs: pulling the adapter out is noticed.
    TheSimAdapter().Unplug();
    ASSERT_TRUE(WaitFor([&] { return !DevicePresent.load(); }, ReceiveWaitMs));
}

TEST_F(ReceiveWindow, CtrlRPumpsWhatWaits) {
    PlugAndFind();
    w->Timer1->stop();
    DevicePresent.store(false);  // keeps the receive thread off the link
    Inject(CanReport1234);
    QTest::keyClick(w.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(Text(w->lblTime), "12:34:56.999");  // on this thread: at once
    EXPECT_EQ(Text(w->lblMessCount), "1");
}

TEST_F(ReceiveWindow, SilentAdapterIsPolledButNeverRead) {
    PlugAndFind();
    ASSERT_TRUE(PassesGoOn(5));
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::Read), 0u);
}

TEST_F(ReceiveWindow, NoAdapterNoReceiveCalls) {
    ASSERT_TRUE(TicksGoOn(5));
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::GetStatus), 0u);
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::Read), 0u);
}

TEST_F(ReceiveWindow, UnplugDuringTrafficAndBack) {
    PlugAndFind();
    TrafficRates rates;
    rates.canFrames = 300;
    rates.busErrors = 20;
    rates.strayBytes = 20;
    rates.brokenFrames = 20;
    firmware->StartGenerator(rates);
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() > 20; }, ReceiveWaitMs));

    TheSimAdapter().Unplug();
    ASSERT_TRUE(WaitFor([&] { return w->windowTitle() == QString(TitleLost); }, ReceiveWaitMs))
        << Show(w->windowTitle());
    {
        const auto gate = EnterPumpGate();  // the pass under way, if any, has ended: no pump follows
    }
    const int32_t afterLoss = MessageCount.load();
    ASSERT_TRUE(TicksGoOn(3));
    EXPECT_EQ(MessageCount.load(), afterLoss);

    TheSimAdapter().Plug();
    ASSERT_TRUE(WaitFor([&] { return w->windowTitle() == QString(TitlePresent); }, ReceiveWaitMs))
        << Show(w->windowTitle());
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() > afterLoss + 20; }, ReceiveWaitMs));
    firmware->StopGenerator();
    // Stray bytes and broken frames never show as frames: every frame shown was one the generator sent.
    ASSERT_TRUE(PassesGoOn(3));
    EXPECT_LE(static_cast<uint64_t>(MessageCount.load()), firmware->CanFramesSent());
    ASSERT_TRUE(
        WaitFor([&] { return Text(w->lblMessCount) == QString::number(MessageCount.load()); }, ReceiveWaitMs))
        << Show(Text(w->lblMessCount));
}

TEST_F(ReceiveWindow, ClosingWhileFramesArriveShowsNoMore) {
    PlugAndFind();
    TrafficRates rates;
    rates.canFrames = 300;
    firmware->StartGenerator(rates);
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() > 10; }, ReceiveWaitMs));
    w->close();
    const QString time = Text(w->lblTime), count = Text(w->lblMessCount);
    const int32_t counted = MessageCount.load();
    ASSERT_TRUE(FramesGoOut(20));  // traffic goes on; the closed window takes none of it
    EXPECT_EQ(Text(w->lblTime), time);
    EXPECT_EQ(Text(w->lblMessCount), count);
    EXPECT_EQ(MessageCount.load(), counted);
    w.reset();  // destroyed with traffic still flowing
    EXPECT_TRUE(FramesGoOut(20));
}

// Every CAN frame report of one long burst is shown and counted, in order: the last one shown is the
// last one sent.
TEST_F(ReceiveWindow, BurstLosesNoFrame) {
    PlugAndFind();
    BusFrame f;
    f.length = 2;
    for (int i = 0; i < 3000; ++i) {
        f.identifier = static_cast<uint32_t>(i % 0x800);
        f.data[0] = static_cast<uint8_t>(i >> 8);
        f.data[1] = static_cast<uint8_t>(i);
        ASSERT_TRUE(firmware->SendCanFrame(f));
    }
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() == 3000; }, 4 * ReceiveWaitMs))
        << Show(MessageCount.load());
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblData) == QString("0B  B7  "); }, ReceiveWaitMs))
        << Show(Text(w->lblData));
    EXPECT_EQ(Text(w->lblMessCount), "3000");
}

TEST_F(ReceiveWindow, EmulatedAdapterAnswersCommandsAndTakesTheTime) {
    PlugAndFind();
    QTest::mouseClick(w->btnInit, Qt::LeftButton);
    // Adaptor Ready, Time, CAN and MC Initialization at least: each answered by a report of its type.
    ASSERT_TRUE(WaitFor([&] { return firmware->CommandsAnswered() >= 4; }, 3 * ReceiveWaitMs));
    ASSERT_TRUE(WaitFor([&] { return w->StatusPanel1->text().endsWith("Initialization"); }, ReceiveWaitMs));
    // The adapter's clock now follows the PC's time of day.
    const long pc = QTime::currentTime().msecsSinceStartOfDay();
    const long adapter = static_cast<long>(firmware->ClockMs());
    const long diff = std::labs(pc - adapter);
    EXPECT_TRUE(diff < 5000 || diff > 86400000 - 5000) << pc << " vs " << adapter;
}
