// The status line as the link and the receive path write it: a link error raised on the receive thread
// reaches it, a pump never reports its own failing read, and every writer leaves the hint (which shows
// what the narrow panel clips) equal to the text.
#include <QAction>
#include <QCoreApplication>
#include <QTimer>
#include <string>
#include <thread>

#include "ReceiveFixture.h"

namespace {

const Bytes PauseReport{0xFA, 0xF5, 0x0A, 0x00, 0x0A, 0xAF, 0x5F};

std::string LinkLine(int32_t serial, const char *what) { return "(" + std::to_string(serial) + ") " + what; }

class StatusLine : public ReceiveWindow {
protected:
    std::string Status() const { return w->StatusPanel1->text().toStdString(); }
    std::string Hint() const { return w->StatusPanel1->toolTip().toStdString(); }

    // No presence tick from here on: none clears ShowLinkErrors, none calls the link.
    void HoldPresenceWatch() { w->Timer1->stop(); }
};

TEST_F(StatusLine, LinkErrorOnTheReceiveThreadReachesIt) {
    PlugAndFind();
    HoldPresenceWatch();
    ShowLinkErrors.store(true);  // as the last command write leaves it
    const std::string line = LinkLine(LinkErrorSerial.load() + 1, "FT_Status - General IO Error...");
    TheSimAdapter().FailNext(SimOp::GetStatus, FT_IO_ERROR);  // the receive thread's poll
    ASSERT_TRUE(WaitFor([&] { return Status() == line; }, ReceiveWaitMs)) << Status();
    EXPECT_EQ(Hint(), line);
}

// The read fails once and the next pump reads the bytes; by the time their frame is shown anything the
// failure had sent would be there too, since both travel the same way.
TEST_F(StatusLine, APumpsFailingReadShowsNothingOnTheReceiveThread) {
    PlugAndFind();
    HoldPresenceWatch();
    ShowLinkErrors.store(true);
    TheSimAdapter().FailNext(SimOp::Read, FT_IO_ERROR);
    Inject(CanReport1234);
    ASSERT_TRUE(WaitFor([&] { return Text(w->lblTime) == "12:34:56.999"; }, ReceiveWaitMs))
        << Show(Text(w->lblTime));
    EXPECT_GE(TheSimAdapter().CallCount(SimOp::Read), 2u) << "the failed read and the one that got the bytes";
    EXPECT_EQ(Status(), "");
}

TEST_F(StatusLine, APumpsFailingReadShowsNothingOnCtrlR) {
    PlugAndFind();
    HoldPresenceWatch();
    DevicePresent.store(false);  // keeps the receive thread off the link: only Ctrl+R pumps
    w->FTReceiveFile->setEnabled(true);
    Inject(CanReport1234);
    // Ctrl+R leaves a pump to the receive thread when that one holds it at the moment; press again then.
    auto pumpOnce = [&] {
        const uint64_t reads = TheSimAdapter().CallCount(SimOp::Read);
        return WaitFor(
            [&] {
                ShowLinkErrors.store(true);
                QTest::keyClick(w.get(), Qt::Key_R, Qt::ControlModifier);
                return TheSimAdapter().CallCount(SimOp::Read) > reads;
            },
            ReceiveWaitMs);
    };
    TheSimAdapter().FailNext(SimOp::Read, FT_IO_ERROR);
    ASSERT_TRUE(pumpOnce());
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(Text(w->lblMessCount), "0");
    ASSERT_TRUE(pumpOnce());
    EXPECT_EQ(Text(w->lblTime), "12:34:56.999");
    EXPECT_EQ(Status(), "");
}

// A link error, then the adapter's report on a command: the report replaces the error in text and hint.
TEST_F(StatusLine, EveryWriterKeepsTheHintEqualToTheText) {
    PlugAndFind();
    TheSimAdapter().FailNext(SimOp::Write, FT_IO_ERROR);
    const uint8_t payload[256]{};
    w->CreateMessage(6, 0, payload);
    ASSERT_NE(Status().find("FT_Write"), std::string::npos) << Status();
    EXPECT_EQ(Hint(), Status());

    Inject(PauseReport);
    ASSERT_TRUE(WaitFor([&] { return Status() == "  Pause"; }, ReceiveWaitMs)) << Status();
    EXPECT_EQ(Hint(), "  Pause");

    w->ErrorMessages("(9) FT_Read - Device Not Opened...");
    EXPECT_EQ(Hint(), Status());
}

// A line from another thread still waiting in the display queue when the window thread writes a newer
// one: the newer one is what stays. A line with a hint (a log's failure) shows its short form in the
// panel and the whole story as the hint.
TEST_F(StatusLine, EndsOnTheLatestLineAndKeepsTheWholeStoryInTheHint) {
    PlugAndFind();
    HoldPresenceWatch();
    std::thread([&] { w->QueueLinkErrorLine("log stopped: write failed: No space left on device",
                                            "trace log /a/long/path/bus.log: write failed: No space left on "
                                            "device; logging stopped"); })
        .join();
    w->ErrorMessages("(9) FT_Write - General IO Error...");
    QCoreApplication::sendPostedEvents();  // the drain that was posted for the queued line runs
    EXPECT_EQ(Status(), "(9) FT_Write - General IO Error...");

    std::thread([&] { w->QueueLinkErrorLine("log stopped: disk full", "trace log /x/bus.log: disk full"); }).join();
    ASSERT_TRUE(WaitFor([&] { return Status() == "log stopped: disk full"; }, ReceiveWaitMs)) << Status();
    EXPECT_EQ(Hint(), "trace log /x/bus.log: disk full");
}

}  // namespace
