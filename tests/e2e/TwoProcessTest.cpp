// Brisklet's real window on the serial link, with the adapter emulator running as a second process on a
// pseudo-terminal: what an operator sees when the emulator plays the adapter, is pulled out and comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcessEnvironment>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>
#include <random>
#include <type_traits>

#include "SerialPty.h"
#include "AdapterProcess.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "Main.h"
#include "MainDisplay.h"
#include "MessageBoxes.h"
#include "PresenceWatch.h"
#include "ProcessState.h"
#include "ReceivePump.h"
#include "VirtualBusName.h"

namespace {

constexpr const char *TitlePresent = "Brisklet  V1.1  -  Device Present";
constexpr const char *TitleLost = "Brisklet  V1.1  -  No Device Present";
// Presence follows within about a second; the assertions allow three, so a busy machine is no failure.
constexpr int PresenceBoundMs = 3000;
constexpr int ReportBoundMs = 3000;

class TwoProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProcessState();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFileInfo::exists(AdapterProcess::Program())) << AdapterProcess::Program().toStdString();
        linkPath = dir.filePath("adapter");
        savedApi = FtApi;
        std::string why;
        ASSERT_TRUE(InstallLinkBackend(LinkChoice{LinkKind::Serial, linkPath.toStdString()}, why)) << why;
        DevicePresent.store(false);
        PauseState.store(0);
        SetMessageBoxHook(
            [this](BoxIcon, const QString &caption, const QString &text) { boxes << caption + ": " + text; });
    }
    void TearDown() override {
        if (w) w->close();
        w.reset();
        CloseFTDevice();  // a handle lost with the adapter is still held until closed
        adapter.Kill();
        InstallD2xxApi(savedApi);
        DevicePresent.store(false);
        PauseState.store(0);
        ShowLinkErrors.store(true);
        SetMessageBoxHook({});
    }

    void OpenWindow() {
        WindowOptions options;
        options.SettingsDir = dir.path() + "/";
        w = std::make_unique<TfrmMain>(options);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->btnClearClick();
    }
    void StartAdapter(const QStringList &extra = {}) {
        ASSERT_TRUE(adapter.Start(linkPath, extra)) << adapter.Error().toStdString();
        ASSERT_TRUE(adapter.Slave().startsWith("/dev/")) << adapter.Slave().toStdString();
        ASSERT_EQ(QFileInfo(linkPath).symLinkTarget(), adapter.Slave());
    }
    bool TitleBecomes(const char *title) {
        return QTest::qWaitFor([&] { return w->windowTitle() == QString(title); }, PresenceBoundMs);
    }
    bool StatusBecomes(const char *text) {
        return QTest::qWaitFor([&] { return w->StatusPanel1->text() == QString(text); }, ReportBoundMs);
    }

    static void Click(QToolButton *b) { QTest::mouseClick(b, Qt::LeftButton); }
    template <class Box>
    static void Set(Box *b, bool on) {
        if (b->isChecked() == on) return;
        QStyleOptionButton opt;
        opt.initFrom(b);
        const auto element = std::is_same_v<Box, QRadioButton> ? QStyle::SE_RadioButtonIndicator
                                                               : QStyle::SE_CheckBoxIndicator;
        QTest::mouseClick(b, Qt::LeftButton, {}, b->style()->subElementRect(element, &opt, b).center());
    }
    static void Type(QLineEdit *e, const QString &text) {
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, text);
    }

    QTemporaryDir dir;
    QString linkPath;
    AdapterProcess adapter;
    std::unique_ptr<TfrmMain> w;
    QStringList boxes;
    D2xxApi savedApi;
};

TEST_F(TwoProcesses, InitializeTransmitUnplugAndReplug) {
    OpenWindow();
    StartAdapter();
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();

    Click(w->btnInit);
    // The four reports of the sequence arrive in order; the filter's answer is the last.
    ASSERT_TRUE(StatusBecomes("  MC Initialization")) << w->StatusPanel1->text().toStdString();

    Set(w->rb2_0A, true);
    Set(w->PeriodBox, false);
    Set(w->ShowFrame, true);
    Set(w->RTRBox, false);
    Type(w->editTime, "100");
    Type(w->editID, "123");
    Type(w->editData, "11 22 33");
    Click(w->btnTransmit0);
    ASSERT_TRUE(StatusBecomes("  OUT Initialization")) << w->StatusPanel1->text().toStdString();
    // Shown back by the adapter's slot as a received frame.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->lblID->text() == QString("00000123"); }, ReportBoundMs))
        << w->lblID->text().toStdString();
    EXPECT_EQ(w->lblData->text(), "11  22  33  ");
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();

    // Ctrl+C on the emulator: it unplugs itself and takes its name away.
    EXPECT_EQ(adapter.Stop(), 0);
    EXPECT_FALSE(QFileInfo(linkPath).isSymLink());
    ASSERT_TRUE(TitleBecomes(TitleLost)) << w->windowTitle().toStdString();
    EXPECT_FALSE(DevicePresent.load());

    StartAdapter();
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();
    Click(w->btnInit);
    ASSERT_TRUE(StatusBecomes("  MC Initialization")) << w->StatusPanel1->text().toStdString();
}

TEST_F(TwoProcesses, AdapterStartedAfterTheWindowIsFound) {
    OpenWindow();
    // Nothing there yet: the status line says so, the title stays.
    const QString missing = linkPath + " does not exist";
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->StatusPanel1->text() == missing; }, PresenceBoundMs))
        << w->StatusPanel1->text().toStdString();
    EXPECT_EQ(w->windowTitle(), "Brisklet  V1.1");
    StartAdapter();
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();
}

TEST_F(TwoProcesses, TornOutDuringNoisyTrafficAndPluggedBackIn) {
    OpenWindow();
    // Lots of frames with stray bytes and broken frames between them; killed without warning, most likely
    // in the middle of a frame, and leaving its stale name behind.
    const QStringList noisy{"--traffic=frames=200,errors=20,stray=50,broken=50"};
    StartAdapter(noisy);
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return MessageCount.load() > 20; }, ReportBoundMs))
        << MessageCount.load();

    adapter.Kill();
    ASSERT_TRUE(TitleBecomes(TitleLost)) << w->windowTitle().toStdString();
    // Its name is left behind, pointing at a terminal number the next program may get: the window tells
    // it from a live one and leaves it alone.
    const QString stale =
        linkPath + " is left over from a brisklet-adapter that is no longer running; not opened";
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->StatusPanel1->text() == stale; }, PresenceBoundMs))
        << w->StatusPanel1->text().toStdString();
    {
        const auto gate = EnterPumpGate();  // the pass under way, if any, has ended: no pump follows
    }
    const int32_t afterLoss = MessageCount.load();

    StartAdapter(noisy);
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return MessageCount.load() > afterLoss + 20; }, ReportBoundMs));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();
}

// A third node on Qt's virtual CAN bus, played by this test, which also serves the bus: what the window
// transmits reaches it through the adapter process, and what it writes reaches the window's labels.
TEST_F(TwoProcesses, FramesCrossAVirtualBusBothWays) {
    const QString iface = PrivateVirtualBus();
    QString error;
    std::unique_ptr<QCanBusDevice> node(QCanBus::instance()->createDevice("virtualcan", iface, &error));
    ASSERT_TRUE(node) << error.toStdString();
    ASSERT_TRUE(node->connectDevice()) << node->errorString().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return node->state() == QCanBusDevice::ConnectedState; }, 5000));

    OpenWindow();
    StartAdapter({"--bus=virtualcan:" + iface});
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();
    Click(w->btnInit);
    ASSERT_TRUE(StatusBecomes("  MC Initialization")) << w->StatusPanel1->text().toStdString();

    // Sent once, not shown back: the frame on the bus is the only trace of it.
    Set(w->rb2_0B, true);
    Set(w->PeriodBox, false);
    Set(w->ShowFrame, false);
    Set(w->RTRBox, false);
    Type(w->editTime, "100");
    Type(w->editID, "1ABCDEF0");
    Type(w->editData, "11 22 33 44 55");
    Click(w->btnTransmit0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return node->framesAvailable() > 0; }, ReportBoundMs));
    const QCanBusFrame heard = node->readFrame();
    EXPECT_EQ(heard.frameType(), QCanBusFrame::DataFrame);
    EXPECT_TRUE(heard.hasExtendedFrameFormat());
    EXPECT_EQ(heard.frameId(), 0x1ABCDEF0u);
    EXPECT_EQ(heard.payload(), QByteArray::fromHex("1122334455"));
    EXPECT_EQ(MessageCount.load(), 0);

    // The other way: the node's frame passes the open filter and shows as received.
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x2B6, QByteArray::fromHex("FF7B4A"))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->lblID->text() == QString("000002B6"); }, ReportBoundMs))
        << w->lblID->text().toStdString();
    EXPECT_EQ(w->lblData->text(), "FF  7B  4A  ");
    EXPECT_EQ(MessageCount.load(), 1);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" | ").toStdString();
    node->disconnectDevice();
}

// The far end played by this test on a terminal of its own, so that it can send anything at all.
TEST_F(TwoProcesses, RandomBytesAndAHangUpMidFrameFromTheFarEnd) {
    auto far = std::make_unique<TestPty>();
    ASSERT_TRUE(far->Ok());
    ASSERT_EQ(::symlink(far->Slave().c_str(), linkPath.toLocal8Bit().constData()), 0);
    OpenWindow();
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();

    std::mt19937 random(11);
    std::vector<uint8_t> noise(64 * 1024);
    for (auto &b : noise) b = static_cast<uint8_t>(random());
    ASSERT_EQ(far->Send(noise), noise.size());
    QTest::qWait(500);
    // Half a CAN frame report, then the far end hangs up and its node goes.
    ASSERT_EQ(far->Send({0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22}), 7u);
    QTest::qWait(150);
    far->HangUp();
    ASSERT_TRUE(TitleBecomes(TitleLost)) << w->windowTitle().toStdString();

    // Back on a new terminal under the same name; a good report then reaches the labels.
    far = std::make_unique<TestPty>();
    ASSERT_TRUE(far->Ok());
    QFile::remove(linkPath);
    ASSERT_EQ(::symlink(far->Slave().c_str(), linkPath.toLocal8Bit().constData()), 0);
    ASSERT_TRUE(TitleBecomes(TitlePresent)) << w->windowTitle().toStdString();
    const std::vector<uint8_t> report{0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03,
                                      0xE7, 0x24, 0x60, 0x00, 0x00, 0x02, 0x11, 0x22, 0x00,
                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x9F, 0xAF, 0x5F};
    // Sent more than once: a tail carried over from before the loss may swallow the first one.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            far->Send(report, 100);
            QTest::qWait(100);
            return w->lblID->text() == QString("00000123");
        },
        ReportBoundMs))
        << w->lblID->text().toStdString();
    EXPECT_EQ(w->lblTime->text(), "12:34:56.999");
}

TEST(AdapterProgram, CommandLineAndItsName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess help;
    help.start(AdapterProcess::Program(), {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_TRUE(help.readAllStandardOutput().contains("--link-path"));

    QProcess bad;
    bad.start(AdapterProcess::Program(), {"--traffic=frames=lots"});
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2);

    // A regular file in the way is never replaced.
    const QString taken = dir.filePath("taken");
    QFile file(taken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("keep");
    file.close();
    QProcess refused;
    refused.start(AdapterProcess::Program(), {"--link-path=" + taken});
    ASSERT_TRUE(refused.waitForFinished(5000));
    EXPECT_EQ(refused.exitCode(), 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep");

    // A stale name left by a killed run is taken over, and removed again at a clean exit.
    const QString name = dir.filePath("adapter");
    ASSERT_TRUE(QFile::link("/dev/pts/does-not-exist", name));
    AdapterProcess adapter;
    ASSERT_TRUE(adapter.Start(name)) << adapter.Error().toStdString();
    EXPECT_EQ(QFileInfo(name).symLinkTarget(), adapter.Slave());
    EXPECT_TRUE(QFileInfo::exists(adapter.Slave()));
    EXPECT_EQ(adapter.Stop(), 0);
    EXPECT_FALSE(QFileInfo(name).isSymLink());
}

// Without --link-path the name is the user's own, in the runtime folder; a second adapter never takes
// over the name of one that runs, and the name and its lock go when the adapter ends.
TEST(AdapterProgram, DefaultNameIsPerUserAndNeverTakenOver) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ASSERT_EQ(::chmod(runtime.path().toLocal8Bit().constData(), 0700), 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    const QString name = runtime.filePath("brisklet-adapter");

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(AdapterProcess::Program(), {});
    ASSERT_TRUE(first.waitForStarted(5000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return first.canReadLine() || first.state() != QProcess::Running; }, 5000));
    const QString slave = QString::fromLocal8Bit(first.readLine()).trimmed();
    EXPECT_EQ(QFileInfo(name).symLinkTarget(), slave);
    EXPECT_TRUE(QFileInfo::exists(name + ".lock"));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(AdapterProcess::Program(), {});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("another brisklet-adapter"));
    EXPECT_EQ(QFileInfo(name).symLinkTarget(), slave);  // still the first one's

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(5000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(name).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(name + ".lock"));
}

}  // namespace
