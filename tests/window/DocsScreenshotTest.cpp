// The window as the README shows it and the README's walk-through: the operator initializes the emulated
// adapter, which hears traffic on its bus, then sends one frame with 0 in Time[ms] and "Show transmit Frame"
// ticked. The frame comes back as received, the counts grow and the status line holds the adapter's report
// on the last command, not an error. The picture is saved as an artifact; docs/window.png is taken from it.
#include <QCheckBox>
#include <QLineEdit>

#include "ReceiveFixture.h"

namespace {

TEST_F(ReceiveWindow, ReadmeWalkThroughSendsOneFrameAndShowsItBack) {
    PlugAndFind();
    w->InitCanClick();  // four commands, each answered by a report in the status line
    ASSERT_TRUE(WaitFor([&] { return w->StatusPanel1->text() == "  MC Initialization"; }, ReceiveWaitMs))
        << Show(w->StatusPanel1->text());
    TrafficRates rates;
    rates.canFrames = 20;
    firmware->StartGenerator(rates);
    ASSERT_TRUE(WaitFor([&] { return w->lblMessCount->text().toInt() >= 3; }, ReceiveWaitMs))
        << Show(w->lblMessCount->text());
    firmware->StopGenerator();

    w->editTime->setText("0");
    w->editID->setText("2B6");
    w->editData->setText("FF 7B 4A E8 AD");
    w->ShowFrame->setChecked(true);
    w->btnSend0Click();
    ASSERT_TRUE(WaitFor([&] { return w->lblID->text() == "000002B6"; }, ReceiveWaitMs))
        << Show(w->lblID->text());
    ASSERT_TRUE(WaitFor([&] { return w->lblMessCount->text().toULongLong() == firmware->CanFramesSent(); },
                        ReceiveWaitMs));
    EXPECT_EQ(w->lblData->text().simplified(), "FF 7B 4A E8 AD");
    EXPECT_EQ(w->lblMessError->text(), "0");
    EXPECT_EQ(w->StatusPanel1->text(), "  OUT Initialization");  // a report, never an error line
    EXPECT_EQ(firmware->State().runningSlots, 0) << "a single frame, not a periodic one";
    EXPECT_TRUE(w->grab().save(QStringLiteral(BRISKLET_ARTIFACTS "/window-receiving.png")));
}

}  // namespace
