// The window's own presence timer against the emulated adapter, and the window's start-up, keyboard and
// closing behaviour that depends on it.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "Main.h"
#include "MessageBoxes.h"
#include "PresenceWatch.h"
#include "ProcessState.h"
#include "SimAdapter.h"
#include "SimBackend.h"
#include "WindowOnEmulator.h"
#include "unitMy.h"

namespace {

constexpr int kGenerousMs = 2000;

class PresenceWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        StartOnEmulator();
        SetMessageBoxHook([this](BoxIcon, const QString &caption, const QString &) { boxes << caption; });
    }
    void TearDown() override {
        if (w) w->close();
        w.reset();
        EndOnEmulator();
        SetMessageBoxHook({});
    }
    void Open() {
        w = ShowWindow(dir_);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    bool ActionsEnabled(bool enabled) const {
        return w->FTPort_Configure->isEnabled() == enabled && w->FTSendFile->isEnabled() == enabled &&
               w->FTReceiveFile->isEnabled() == enabled;
    }

    QTemporaryDir dir_;
    std::unique_ptr<TfrmMain> w;
    QStringList boxes;
};

TEST_F(PresenceWindow, WithoutAdapterTheStartTitleStaysAndNothingIsReported) {
    Open();
    EXPECT_EQ(w->windowTitle(), "Brisklet  V1.1");
    EXPECT_TRUE(w->Timer1->isActive());
    EXPECT_EQ(w->Timer1->interval(), 55);
    EXPECT_TRUE(ActionsEnabled(false));
    EXPECT_TRUE(w->FTQuit->isEnabled());
    // A command write leaves ShowLinkErrors true; the next failed open must still stay silent.
    ShowLinkErrors.store(true);
    // Several ticks, each trying to open the device.
    ASSERT_TRUE(QTest::qWaitFor([&] { return TheSimAdapter().CallCount(SimOp::Open) >= 5; }, kGenerousMs));
    EXPECT_EQ(w->windowTitle(), "Brisklet  V1.1");
    EXPECT_EQ(w->StatusPanel1->text(), "");
}

TEST_F(PresenceWindow, PlugUnplugAndReplugFollowTheAdapter) {
    Open();
    TheSimAdapter().Plug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->windowTitle() == "Brisklet  V1.1  -  Device Present"; },
                                kGenerousMs));
    EXPECT_TRUE(DevicePresent.load());
    EXPECT_TRUE(ActionsEnabled(true));
    ULONG readMs = 0, writeMs = 0;
    ASSERT_TRUE(TheSimAdapter().Timeouts(readMs, writeMs));
    EXPECT_EQ(readMs, 10u);
    EXPECT_EQ(writeMs, 10u);
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::ResetDevice), 1u);

    TheSimAdapter().Unplug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->windowTitle() == "Brisklet  V1.1  -  No Device Present"; },
                                kGenerousMs));
    EXPECT_FALSE(DevicePresent.load());
    EXPECT_TRUE(ActionsEnabled(false));
    EXPECT_EQ(w->StatusPanel1->text(), "");

    TheSimAdapter().Plug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->windowTitle() == "Brisklet  V1.1  -  Device Present"; },
                                kGenerousMs));
    EXPECT_TRUE(ActionsEnabled(true));
}

TEST_F(PresenceWindow, ChurnAlwaysEndsInTheStateThePlugSays) {
    Open();
    for (int i = 0; i < 40; ++i) {
        if (i % 2 == 0)
            TheSimAdapter().Plug();
        else
            TheSimAdapter().Unplug();
        QTest::qWait(i % 7);  // sometimes between ticks, sometimes across one
    }
    TheSimAdapter().Unplug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !DevicePresent.load(); }, kGenerousMs));
    // Two more ticks try to open it in vain: nothing of the churn is left to find it again.
    const uint64_t tries = TheSimAdapter().CallCount(SimOp::Open);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return TheSimAdapter().CallCount(SimOp::Open) >= tries + 2; }, kGenerousMs));
    EXPECT_FALSE(DevicePresent.load());
    EXPECT_TRUE(ActionsEnabled(false));
    TheSimAdapter().Plug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return DevicePresent.load() && ActionsEnabled(true); }, kGenerousMs));
    EXPECT_EQ(w->windowTitle(), "Brisklet  V1.1  -  Device Present");
}

TEST_F(PresenceWindow, FailedStartUpCountIsNumberedInTheStatusLine) {
    TheSimAdapter().FailNext(SimOp::ListDevices, FT_IO_ERROR);
    const int32_t before = LinkErrorSerial.load();
    Open();
    EXPECT_EQ(w->StatusPanel1->text(),
              QString("(%1) GetFTDeviceCount - General IO Error...").arg(before + 1));
}

TEST_F(PresenceWindow, CtrlXClosesTheWindowEvenFromAnEditBox) {
    Open();
    w->activateWindow();
    w->editData->setFocus();
    QTest::keyClicks(w->editData, "ab");
    w->editData->selectAll();
    QTest::keyClick(w->editData, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->isVisible(); }, kGenerousMs));
    EXPECT_EQ(w->editData->text(), "AB");  // closed, not cut
    EXPECT_EQ(PauseState.load(), 1);
    PauseState.store(0);
}

TEST_F(PresenceWindow, ClosingWithTheAdapterPresentClosesTheLink) {
    Open();
    TheSimAdapter().Plug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return DevicePresent.load(); }, kGenerousMs));
    ASSERT_TRUE(TheSimAdapter().IsOpen());
    w->close();
    EXPECT_FALSE(TheSimAdapter().IsOpen());
    EXPECT_TRUE(QFile::exists(w->SettingsPath()));
    PauseState.store(0);
}

TEST_F(PresenceWindow, CtrlRWithoutAdapterReadsNothing) {
    Open();
    w->activateWindow();
    QTest::keyClick(w.get(), Qt::Key_R, Qt::ControlModifier);  // handled before keyClick returns
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::Read), 0u);
}

TEST_F(PresenceWindow, CommandsWithoutAdapterShowOnlyTheWarning) {
    Open();
    w->ShowDeviceWarning();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes.front(), "Warning");
}

}  // namespace
