// The window's --initialize (the Initialize sequence whenever the adapter is found) and its trace log: the
// lines a real window writes, read back by the tools users hand them to.
#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <fstream>
#include <sstream>

#include "CommandLog.h"
#include "ProcessState.h"
#include "ReceiveFixture.h"
#include "SimBackend.h"
#include "AdapterExtras.h"

namespace {

class FoundWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        StartOnEmulator();
        TheSimAdapter().SetFirmware(&log);
    }
    void TearDown() override {
        if (w) w->close();
        w.reset();
        EndOnEmulator();
    }
    void Open(bool initializeOnFind) {
        WindowOptions options;
        options.InitializeOnFind = initializeOnFind;
        w = ShowWindow(dir_, options);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    Bytes Types() const {
        Bytes types;
        for (const LoggedFrame &f : log.Frames()) types.push_back(f.type);
        return types;
    }

    CommandLog log;
    std::unique_ptr<TfrmMain> w;
    QTemporaryDir dir_;
};

constexpr uint8_t Ready = 0, Time = 4, CanInit = 1, McInit = 2;

}  // namespace

// Found at start and found again after a replug: each time the Initialize sequence, with the controls as
// they stand (here 1000 kbit/s and the low-speed transceiver, chosen before the replug).
TEST_F(FoundWindow, InitializeRunsWheneverTheAdapterIsFound) {
    Open(true);
    TheSimAdapter().Plug();
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 4 && PauseState.load() == 0; }, 5000)) << log.Count();
    EXPECT_EQ(Types(), (Bytes{Ready, Time, CanInit, McInit}));
    const std::vector<uint8_t> firstCanInit = log.Frames()[2].payload;

    TheSimAdapter().Unplug();
    ASSERT_TRUE(WaitFor([&] { return !DevicePresent.load(); }, ReceiveWaitMs));
    w->ComboSpeed->setCurrentIndex(w->ComboSpeed->count() - 1);
    w->LowSpeed->setChecked(true);
    log.Clear();
    TheSimAdapter().Plug();
    ASSERT_TRUE(WaitFor([&] { return log.Count() >= 4; }, 5000)) << log.Count();
    ASSERT_TRUE(TicksGoOn(3));  // nothing beyond the one sequence
    EXPECT_EQ(Types(), (Bytes{Ready, Time, CanInit, McInit}));
    EXPECT_NE(log.Frames()[2].payload, firstCanInit);
}

TEST_F(FoundWindow, WithoutTheOptionFindingSendsNothing) {
    Open(false);
    TheSimAdapter().Plug();
    ASSERT_TRUE(WaitFor([&] { return DevicePresent.load(); }, ReceiveWaitMs));
    ASSERT_TRUE(TicksGoOn(3));
    EXPECT_EQ(log.Count(), 0u);
}

namespace {

std::string RunTool(const QString &program, const QStringList &args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    return p.readAllStandardOutput().toStdString();
}

std::vector<std::string> NonEmptyLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

// Runs the readers as child processes, so it stays out of the ThreadSanitizer run (whose filter takes
// Receive*): a child started from a threaded program leaves the race checker blind to the parent's locks.
class TraceWindow : public ReceiveWindow {};

// The frames a running window counts, written by its trace log: an 11-bit data frame, a 29-bit one, a remote
// frame and a bus error, in this order; paused frames are not counted and not logged. Read back by
// can-utils' log2asc and python-can.
TEST_F(TraceWindow, TheTraceLogHoldsWhatTheWindowCountsAndTheToolsReadIt) {
    const std::string path =
        (QDir::tempPath() + "/brisklet-trace-" + QString::number(QCoreApplication::applicationPid()) + ".log")
            .toStdString();
    std::remove(path.c_str());
    // The log as the program wires it: on an output thread of its own, fed by the window's session.
    AdapterExtras extras(w->Session(), {});
    std::string why;
    ASSERT_TRUE(extras.OpenLog(path, "brisklet0", why)) << why;
    PlugAndFind();

    BusFrame a;
    a.identifier = 0x2B6;
    a.length = 5;
    a.data = {0xFF, 0x7B, 0x4A, 0xE8, 0xAD, 0, 0, 0};
    BusFrame b;
    b.identifier = 0x1ABCDEF;
    b.extended = true;
    b.length = 8;
    b.data = {1, 2, 3, 4, 5, 6, 7, 8};
    BusFrame r;
    r.identifier = 0x7FF;
    r.remote = true;
    r.length = 3;
    ASSERT_TRUE(firmware->SendCanFrame(a));
    ASSERT_TRUE(firmware->SendCanFrame(b));
    ASSERT_TRUE(firmware->SendCanFrame(r));
    ASSERT_TRUE(firmware->SendBusError(0x08));
    ASSERT_TRUE(
        WaitFor([&] { return MessageCount.load() == 3 && StuffErrorCount.load() == 1; }, ReceiveWaitMs));
    PauseState.store(1);
    ASSERT_TRUE(firmware->SendCanFrame(a));  // not counted, not logged
    ASSERT_TRUE(PassesGoOn(3));
    w->close();
    extras.Stop();  // what the log holds is written out and the file closed

    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<std::string> lines = NonEmptyLines(text.str());
    ASSERT_EQ(lines.size(), 4u) << text.str();
    auto body = [](const std::string &line) { return line.substr(line.find(')') + 2); };
    EXPECT_EQ(body(lines[0]), "brisklet0 2B6#FF7B4AE8AD");
    EXPECT_EQ(body(lines[1]), "brisklet0 01ABCDEF#0102030405060708");
    EXPECT_EQ(body(lines[2]), "brisklet0 7FF#R3");
    EXPECT_EQ(body(lines[3]).substr(0, 19), "brisklet0 20000088#");

    const QString log2asc = QStandardPaths::findExecutable(QStringLiteral("log2asc"));
    if (!log2asc.isEmpty()) {
        const std::string asc = RunTool(log2asc, {"-I", QString::fromStdString(path), "brisklet0"});
        EXPECT_NE(asc.find("2B6"), std::string::npos) << asc;
        EXPECT_NE(asc.find("1ABCDEFx"), std::string::npos) << asc;
        EXPECT_NE(asc.find("ErrorFrame"), std::string::npos) << asc;
    }
    const QString script = QStringLiteral(R"(
import sys, can
for m in can.CanutilsLogReader(sys.argv[1]):
    print('E' if m.is_error_frame else '%X %d %d %d %s' % (m.arbitration_id, m.is_extended_id,
          m.is_remote_frame, m.dlc, bytes(m.data or b'').hex().upper()))
)");
    const std::string read =
        RunTool(QStringLiteral("/usr/bin/python3"), {"-c", script, QString::fromStdString(path)});
    if (!read.empty()) {
        EXPECT_EQ(NonEmptyLines(read),
                  (std::vector<std::string>{"2B6 0 0 5 FF7B4AE8AD", "1ABCDEF 1 0 8 0102030405060708",
                                            "7FF 0 1 3 ", "E"}))
            << read;
    }
    std::remove(path.c_str());
    if (log2asc.isEmpty() || read.empty())
        GTEST_SKIP() << "log2asc or python-can missing: lines checked only";
}
