// Why the adapter cannot be opened reaches the operator: once on stderr and in the status line, and again
// only when the reason changes. A missing adapter is said until it has been found once; after that the
// title's "No Device Present" says it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QTemporaryDir>
#include <memory>

#include "BackendSerial.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "Main.h"
#include "MessageBoxes.h"
#include "PresenceWatch.h"
#include "ProcessState.h"
#include "SerialPty.h"
#include "SimAdapter.h"
#include "SimBackend.h"

namespace {

class LinkProblem : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProcessState();
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("adapter").toStdString();
        SerialSettings settings;
        settings.path = path;
        TheSerialLink().Configure(settings);
        InstallD2xxApi(SerialD2xxApi());
        DevicePresent.store(false);
        SetMessageBoxHook([](BoxIcon, const QString &, const QString &) {});
        WindowOptions options;
        options.SettingsDir = dir.path() + "/";
        w = std::make_unique<TfrmMain>(options);
    }
    void TearDown() override {
        if (w) w->FTQuitExecute();
        w.reset();
        DevicePresent.store(false);
        InstallD2xxApi(SimD2xxApi());
        TheSerialLink().Configure({});
        SetMessageBoxHook({});
    }
    // One presence tick; what it printed on stderr.
    std::string Tick() {
        ::testing::internal::CaptureStderr();
        w->Timer1Timer();
        return ::testing::internal::GetCapturedStderr();
    }
    QString Status() const { return w->StatusPanel1->text(); }

    QTemporaryDir dir;
    std::string path;
    std::unique_ptr<TfrmMain> w;
};

TEST_F(LinkProblem, SaidOnceAndAgainOnlyWhenItChanges) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const std::string notTerminal = path + " is not a serial terminal; not opened";
    EXPECT_EQ(Tick(), "brisklet: " + notTerminal + "\n");
    EXPECT_EQ(Status().toStdString(), notTerminal);
    EXPECT_EQ(w->StatusPanel1->toolTip(), Status());

    // The same reason tick after tick: nothing more, and another writer's line stays.
    w->ErrorMessages("(1) FT_Write - Invalid Handle...");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Status(), "(1) FT_Write - Invalid Handle...");

    // Before the adapter was ever found, its absence is a reason too.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(Tick(), "brisklet: " + path + " does not exist\n");
    EXPECT_EQ(Status().toStdString(), path + " does not exist");

    // Found: nothing to say.
    auto pty = std::make_unique<TestPty>();
    ASSERT_TRUE(pty->Ok());
    ASSERT_EQ(::symlink(pty->Slave().c_str(), path.c_str()), 0);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(w->windowTitle(), TitlePresent);

    // Pulled out: the title says it; the missing node is not said again.
    w->ErrorMessages("");
    pty->HangUp();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(w->windowTitle(), TitleLost);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Status(), "");

    // Something that is there but must not be opened is said at once.
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(Tick(), "brisklet: " + notTerminal + "\n");
    EXPECT_EQ(Status().toStdString(), notTerminal);
}

TEST_F(LinkProblem, TheEmulatorAndTheVendorLibraryKeepNoReason) {
    InstallD2xxApi(SimD2xxApi());
    TheSimAdapter().ResetForTest();
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Status(), "");
    EXPECT_EQ(LinkOpenProblem(), OpenProblem{});
}

}  // namespace
