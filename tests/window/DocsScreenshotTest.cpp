// The window as the README shows it and the README's walk-through: the operator initializes the emulated
// adapter, which hears traffic on its bus, then sends one frame with 0 in Time[ms] and "Show transmit Frame"
// ticked. The frame comes back as received, the counts grow and the status line holds the adapter's report
// on the last command, not an error. The picture is saved as an artifact; docs/window.png is taken from it.
// And the receive list on the emulator's traffic, as the program wires it (docs/receive-list.png): every
// frame the adapter heard is counted in its rows, and after an Initialize the load is known.
#include <QCheckBox>
#include <QLineEdit>

#include "AdapterExtras.h"
#include "ReceiveFixture.h"
#include "ReceiveListWindow.h"

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

// Its painting runs on Qt's own thread pool, which the race checker (whose filter takes Receive*) cannot see
// into: a fixture of another name keeps it out of that run.
class ListOnEmulator : public ReceiveWindow {};

TEST_F(ListOnEmulator, TheReceiveListCountsTheEmulatorsTrafficAndKnowsTheLoad) {
    AdapterExtras extras(w->Session(), {});
    QTemporaryDir settings;
    ReceiveListWindow list(&extras.Table(), &extras.Health(), settings.filePath("receive-list.ini"));
    list.resize(1100, 400);
    list.show();
    PlugAndFind();
    w->InitCanClick();
    ASSERT_TRUE(WaitFor([&] { return w->StatusPanel1->text() == "  MC Initialization"; }, ReceiveWaitMs));
    // Four periodic frames the adapter reports back as it sends them, over random traffic and errors.
    const struct {
        uint32_t id;
        int32_t periodMs;
        int count;
        uint8_t data[8];
    } periodic[] = {{0x0C1, 10, 8, {0x77, 0x22, 0x5D}}, {0x120, 20, 8, {0x3B, 0x22, 0x4E}},
                 {0x2B6, 50, 5, {0xFF, 0x7B, 0x4A, 0xE8, 0xAD}}, {0x3E8, 200, 8, {0x05, 0x22, 0x41}}};
    for (int slot = 0; slot < 4; ++slot)
        w->TransmitCanData(slot, periodic[slot].periodMs, TransmitFlags(true, true), false, periodic[slot].id,
                           periodic[slot].count, periodic[slot].data);
    TrafficRates rates;
    rates.canFrames = 20;
    rates.busErrors = 1;
    firmware->StartGenerator(rates);
    ASSERT_TRUE(WaitFor([&] { return MessageCount.load() >= 400; }, 5 * ReceiveWaitMs));
    list.RefreshNow();
    EXPECT_FALSE(list.lblLoad->text().contains("?")) << list.lblLoad->text().toStdString();
    EXPECT_TRUE(list.grab().save(QStringLiteral(BRISKLET_ARTIFACTS "/receive-list-emulator.png")));

    firmware->StopGenerator();
    w->DisableTransmit();
    ASSERT_TRUE(PassesGoOn(10));
    list.RefreshNow();
    int64_t counted = 0;
    for (const busview::FrameRow &row : list.model->Snapshot().Rows()) counted += static_cast<int64_t>(row.count);
    EXPECT_EQ(counted, MessageCount.load()) << "every frame in a row of its own identifier";
}

}  // namespace
