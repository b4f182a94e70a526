// brisklet-gateway as a process, on a machine without a display: against a far end this test plays on a
// pseudo-terminal (to see every byte it sends), against the adapter emulator process (to see it answer,
// carry traffic and be pulled out), and against the built-in emulator with a trace file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCanBus>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

#include "AdapterProcess.h"
#include "BriskletVersion.h"
#include "CommandLog.h"
#include "EmulatedFirmware.h"
#include "GatewayProcess.h"
#include "RecordingChannel.h"
#include "SerialPty.h"
#include "VirtualBusName.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;

// A 100 ms wait seen from the reading side; a late read of the frame before it can only shorten it.
constexpr long long MinSeenGapMs = 50;

const QRegularExpression TraceLine(
    R"(^\((\d+)\.\d{6}\) (\S+) (?:[0-9A-F]{3}|[0-9A-F]{8})#(?:R[0-8]?|(?:[0-9A-F]{2}){0,8})$)");

Frames BytesOf(const std::vector<LoggedFrame> &logged) {
    Frames frames;
    for (const LoggedFrame &f : logged) frames.push_back(f.bytes);
    return frames;
}

// Whether process `pid` has SIGINT, SIGTERM and SIGHUP blocked (its SigBlk mask in /proc).
bool HoldsStopSignals(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith("SigBlk:")) continue;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
        const qulonglong wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1)) | (1ull << (SIGHUP - 1));
        return (mask & wanted) == wanted;
    }
    return false;
}

long long MsBetween(const LoggedFrame &a, const LoggedFrame &b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b.arrived - a.arrived).count();
}

// The test is the adapter: the gateway opens the slave side of a terminal whose master the test reads.
class GatewayOnTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        linkPath = dir.filePath("adapter");
    }
    void Plug() {
        far = std::make_unique<TestPty>();
        ASSERT_TRUE(far->Ok());
        QFile::remove(linkPath);
        ASSERT_EQ(::symlink(far->Slave().c_str(), linkPath.toLocal8Bit().constData()), 0);
    }
    void Unplug() {
        QFile::remove(linkPath);
        far->HangUp();
    }
    // Reads what the gateway writes until `count` frames have come, each stamped as it arrives.
    std::vector<LoggedFrame> ReadFrames(std::size_t count, int ms = 5000) {
        log.Clear();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        uint8_t chunk[512];
        while (log.Count() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{far->Master(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(far->Master(), chunk, sizeof chunk);
            if (n > 0) log.Feed(chunk, static_cast<std::size_t>(n));
        }
        return log.Frames();
    }
    void ExpectInitialization(const std::vector<LoggedFrame> &got, const CanSetup &setup) {
        ASSERT_GE(got.size(), 2u);
        RecordingChannel expected(setup);
        expected.time = TimeInFrame(got[1].bytes);
        InitializeSequence(expected);
        EXPECT_EQ(BytesOf(got), expected.frames);
        // The time of day sent is the machine's (a second's slack either side, and midnight).
        const int sent =
            ((expected.time.hour * 60 + expected.time.minute) * 60 + expected.time.second) * 1000 +
            expected.time.millisecond;
        const int now = QTime::currentTime().msecsSinceStartOfDay();
        EXPECT_TRUE(std::abs(now - sent) < 10000 || std::abs(now - sent) > 86390000) << sent << " vs " << now;
        for (std::size_t wait : expected.waits)
            if (wait < got.size()) {
                EXPECT_GE(MsBetween(got[wait - 1], got[wait]), MinSeenGapMs) << wait;
            }
    }

    QTemporaryDir dir;
    QString linkPath;
    std::unique_ptr<TestPty> far;
    CommandLog log;
    GatewayProcess gateway;
};

TEST_F(GatewayOnTerminal, InitializesWithTheOptionsAtEveryPlugAndDisablesOnSigterm) {
    const CanSetup setup{BitRateRowFor(500), true, true, 0x1ABCDEF0, 0x1FFFFFFF, false};
    constexpr std::size_t InitFrames = 12;  // listening: eight OUT Disable before CAN Initialization
    constexpr std::size_t DisableFrames = 10;
    Plug();
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath, "--bitrate=500", "--listen", "--low-speed",
                               "--29bit", "--tag=1ABCDEF0", "--mask", "1FFFFFFF"}));
    auto got = ReadFrames(InitFrames);
    ASSERT_EQ(got.size(), InitFrames) << gateway.StatusText().toStdString();
    ExpectInitialization(got, setup);
    EXPECT_TRUE(gateway.WaitForStatus("adapter found")) << gateway.StatusText().toStdString();

    // Pulled out and plugged back in: the adapter comes back with its power-on settings and is
    // initialised again, unasked.
    Unplug();
    ASSERT_TRUE(gateway.WaitForStatus("adapter lost")) << gateway.StatusText().toStdString();
    Plug();
    got = ReadFrames(InitFrames);
    ASSERT_EQ(got.size(), InitFrames) << gateway.StatusText().toStdString();
    ExpectInitialization(got, setup);
    EXPECT_TRUE(gateway.WaitForStatus("adapter found", 2)) << gateway.StatusText().toStdString();
    EXPECT_EQ(gateway.Output(), QStringList{});  // the far end sent nothing to trace

    // SIGTERM: the window's disable sequence, then a clean exit. Read while it runs, so nothing the
    // terminal held is lost when the gateway closes its side.
    ASSERT_EQ(::kill(static_cast<pid_t>(gateway.Pid()), SIGTERM), 0);
    got = ReadFrames(DisableFrames);
    EXPECT_EQ(gateway.Finish(), 0) << gateway.StatusText().toStdString();
    RecordingChannel expected;
    DisableSequence(expected);
    EXPECT_EQ(BytesOf(got), expected.frames);
    if (got.size() == DisableFrames) {
        EXPECT_GE(MsBetween(got[7], got[8]), MinSeenGapMs);
        EXPECT_GE(MsBetween(got[8], got[9]), MinSeenGapMs);
    }
}

// A stop in the middle of an initialisation: the rest of it is never sent, so the adapter is left
// disabled, not switched on again after the disable sequence.
TEST_F(GatewayOnTerminal, StopDuringInitializationCutsItShortAndDisables) {
    Plug();
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath}));
    ASSERT_EQ(ReadFrames(1).size(), 1u);  // Adaptor Ready; the first wait has begun
    ASSERT_EQ(::kill(static_cast<pid_t>(gateway.Pid()), SIGTERM), 0);
    std::vector<LoggedFrame> got = ReadFrames(10);
    // On a very slow machine the time command may have gone out before the signal was seen.
    if (!got.empty() && got.front().type == 4) {
        got.erase(got.begin());
        const auto more = ReadFrames(1, 1000);
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_EQ(gateway.Finish(), 0) << gateway.StatusText().toStdString();
    RecordingChannel expected;
    DisableSequence(expected);
    EXPECT_EQ(BytesOf(got), expected.frames);
    EXPECT_TRUE(ReadFrames(1, 300).empty()) << "nothing after the disable sequence";
}

// The terminal it was started from goes away (SIGHUP): the adapter is disabled as on any other stop, not
// left running on the bus by a program that simply died.
TEST_F(GatewayOnTerminal, AHangUpDisablesTheAdapterAsAStopDoes) {
    Plug();
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath}));
    constexpr std::size_t InitFrames = 4, DisableFrames = 10;  // not listening: the four reports' commands
    ASSERT_EQ(ReadFrames(InitFrames).size(), InitFrames) << gateway.StatusText().toStdString();
    ASSERT_TRUE(gateway.WaitForStatus("adapter found")) << gateway.StatusText().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(gateway.Pid()), SIGHUP), 0);
    const auto got = ReadFrames(DisableFrames);
    EXPECT_EQ(gateway.Finish(), 0) << gateway.StatusText().toStdString();
    RecordingChannel expected;
    DisableSequence(expected);
    EXPECT_EQ(BytesOf(got), expected.frames);
}

TEST_F(GatewayOnTerminal, StopsWithoutCommandsWhenNoAdapterIsThere) {
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath}));
    // Nothing to find; SIGINT as Ctrl+C ends it at once with nothing sent. Sent once the program holds
    // the stop signals for its event loop (before that it would simply die of it).
    ASSERT_TRUE(QTest::qWaitFor([&] { return HoldsStopSignals(gateway.Pid()); }, 5000));
    ASSERT_EQ(::kill(static_cast<pid_t>(gateway.Pid()), SIGINT), 0);
    EXPECT_EQ(gateway.Finish(), 0);
    EXPECT_LE(gateway.Status().size(), 1);  // at most why there is nothing to open
    EXPECT_EQ(gateway.Status().filter("does not exist"), gateway.Status());
}

// Reports flood in while nobody reads standard error: the status lines cost counted drops, never a wait,
// so the stop is handled at once.
TEST_F(GatewayOnTerminal, AFloodOfReportsIntoAStderrNobodyReadsNeverHoldsUpTheStop) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    gateway.SendStatusTo(pipeFds[1]);
    Plug();
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath}));
    ::close(pipeFds[1]);
    ASSERT_EQ(ReadFrames(4).size(), 4u);
    // Two kinds of report back to back (a repeated one alone would be counted, not written), far more
    // lines than the pipe holds.
    const uint8_t reports[] = {0xFA, 0xF5, 0x0A, 0x00, 0x0A, 0xAF, 0x5F, 0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};
    std::vector<uint8_t> flood;
    for (int i = 0; i < 20000; ++i) flood.insert(flood.end(), reports, reports + sizeof reports);
    ASSERT_EQ(far->Send(flood, 20000), flood.size()) << "the gateway stopped reading its adapter";
    ASSERT_EQ(::kill(static_cast<pid_t>(gateway.Pid()), SIGTERM), 0);
    EXPECT_EQ(gateway.Finish(2000), 0);
    ::close(pipeFds[0]);
}

// The log's output is a pipe nobody reads: the receive path never waits for it. What does not fit is dropped
// for the log alone and said; the presence watch goes on (an unplug is seen); a stop ends at once.
TEST_F(GatewayOnTerminal, ALogNobodyReadsHoldsUpNeitherThePresenceWatchNorTheStop) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    gateway.SendOutputTo(pipeFds[1]);
    Plug();
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath}));
    ::close(pipeFds[1]);
    ASSERT_EQ(ReadFrames(4).size(), 4u);
    BusFrame frame;
    frame.identifier = 0x123;
    frame.length = 8;
    const CanReport report = BuildCanReport(frame, 12, 0, 0, 0);
    std::vector<uint8_t> flood;
    for (int i = 0; i < 80000; ++i) flood.insert(flood.end(), report.begin(), report.end());  // ring and pipe over
    ASSERT_EQ(far->Send(flood, 20000), flood.size());
    ASSERT_TRUE(QTest::qWaitFor([&] { return gateway.StatusText().contains("the output is not keeping up"); }, 10000))
        << gateway.StatusText().toStdString();
    Unplug();
    ASSERT_TRUE(gateway.WaitForStatus("adapter lost")) << gateway.StatusText().toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(gateway.Pid()), SIGTERM), 0);
    EXPECT_EQ(gateway.Finish(2000), 0) << gateway.StatusText().toStdString();
    ::close(pipeFds[0]);
}

class GatewayWithAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QFileInfo::exists(AdapterProcess::Program())) << AdapterProcess::Program().toStdString();
        ASSERT_TRUE(QFileInfo::exists(GatewayProcess::Program())) << GatewayProcess::Program().toStdString();
        linkPath = dir.filePath("adapter");
    }
    void StartAdapter() {
        ASSERT_TRUE(adapter.Start(linkPath, {"--traffic=frames=50"})) << adapter.Error().toStdString();
    }
    // The four reports of an initialisation, after the n-th "adapter found", in order.
    void ExpectReportsInOrder(int found) {
        const QStringList lines = gateway.Status();
        qsizetype at = -1;
        for (int i = 0; i < found; ++i) at = lines.indexOf("adapter found", at + 1);
        ASSERT_GE(at, 0) << gateway.StatusText().toStdString();
        for (const char *report :
             {"  Adaptor Ready", "  Time Initialization", "  CAN Initialization", "  MC Initialization"}) {
            const qsizetype next = lines.indexOf(report, at + 1);
            ASSERT_GT(next, at) << report << ": " << gateway.StatusText().toStdString();
            at = next;
        }
    }

    QTemporaryDir dir;
    QString linkPath;
    AdapterProcess adapter;
    GatewayProcess gateway;
};

TEST_F(GatewayWithAdapter, TracesTrafficFollowsAReplugAndDisablesOnSigterm) {
    StartAdapter();
    ASSERT_TRUE(gateway.Start({"--link=serial:" + linkPath}));
    ASSERT_TRUE(gateway.WaitForStatus("  MC Initialization")) << gateway.StatusText().toStdString();
    ExpectReportsInOrder(1);

    // The adapter's traffic on standard output, one candump line per frame, stamped with today's date.
    ASSERT_TRUE(gateway.WaitForOutputLines(gateway.Output().size() + 10))
        << gateway.StatusText().toStdString();
    for (const QString &line : gateway.Output()) {
        const auto m = TraceLine.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        EXPECT_EQ(m.captured(2), "brisklet0");
    }
    const qint64 last = TraceLine.match(gateway.Output().last()).captured(1).toLongLong();
    EXPECT_LT(std::abs(last - QDateTime::currentSecsSinceEpoch()), 60)
        << gateway.Output().last().toStdString();

    adapter.Stop();
    ASSERT_TRUE(gateway.WaitForStatus("adapter lost")) << gateway.StatusText().toStdString();
    StartAdapter();
    ASSERT_TRUE(gateway.WaitForStatus("  MC Initialization", 2)) << gateway.StatusText().toStdString();
    ExpectReportsInOrder(2);
    const auto before = gateway.Output().size();
    ASSERT_TRUE(gateway.WaitForOutputLines(before + 5)) << gateway.StatusText().toStdString();

    EXPECT_EQ(gateway.Terminate(), 0) << gateway.StatusText().toStdString();
    // The adapter answered the disable sequence while the gateway waited between its commands: eight
    // reports on the slots, said once and counted.
    EXPECT_EQ(gateway.Status().count("  OUT Disable"), 1) << gateway.StatusText().toStdString();
    EXPECT_TRUE(gateway.Status().contains("  OUT Disable (repeated 7 times)")) << gateway.StatusText().toStdString();
    EXPECT_TRUE(gateway.Status().contains("  MC Disable")) << gateway.StatusText().toStdString();
    for (const QString &line : gateway.Output())
        EXPECT_TRUE(TraceLine.match(line).hasMatch()) << line.toStdString();
}

// The mirror on a virtual bus this test serves: what a node writes there the adapter transmits, and the
// trace logs it as sent, which python-can's reader and log2asc take as transmitted. The warning that
// every local user shares that bus is said once; Qt's own chatter is not said.
TEST_F(GatewayWithAdapter, MirrorOnTheVirtualBusLogsWhatTheAdapterSent) {
    std::unique_ptr<QCanBusDevice> node(QCanBus::instance()->createDevice("virtualcan", PrivateVirtualBus()));
    ASSERT_TRUE(node && node->connectDevice());
    StartAdapter();
    const QString log = dir.filePath("bus.log");
    ASSERT_TRUE(gateway.Start(
        {"--link=serial:" + linkPath, "--bus=virtualcan:" + PrivateVirtualBus(), "--log=" + log}));
    // The adapter's traffic heard on the bus: the bus server has the gateway's device.
    ASSERT_TRUE(QTest::qWaitFor([&] { return node->framesAvailable() > 0; }, 10000));
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x1ABCDEF0, QByteArray::fromHex("1122"))));
    auto run = [](const QString &program, const QStringList &arguments) {
        QProcess p;
        p.start(program, arguments);
        return p.waitForFinished(60000) ? QString::fromLatin1(p.readAllStandardOutput()) : QString();
    };
    const QString sent =
        "import sys, can\nfor m in can.CanutilsLogReader(sys.argv[1]):\n  if not m.is_rx: "
        "print(hex(m.arbitration_id), m.is_extended_id, m.is_remote_frame, m.dlc, m.data.hex())";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return run("/usr/bin/python3", {"-c", sent, log}) == "0x1abcdef0 True False 2 1122\n";
        },
        10000));
    const QString asc = run("log2asc", {"-I", log, "brisklet0"}).simplified();
    EXPECT_TRUE(asc.contains("1 1ABCDEF0x Tx d 2 11 22")) << asc.toStdString();
    EXPECT_EQ(gateway.Status().filter("every local user").size(), 1) << gateway.StatusText().toStdString();
    EXPECT_EQ(gateway.Status().filter(QRegularExpression("^qt\\.")), QStringList{});
}

TEST(GatewayTraceFile, AppendsWholeLinesUnderTheGivenName) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("trace.log");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("(1733655296.123000) earlier 123#11\n");
    file.close();

    GatewayProcess gateway;
    ASSERT_TRUE(
        gateway.Start({"--link=sim", "--traffic=frames=200,errors=20", "--log=" + path, "--log-name=vcan7"}));
    auto lines = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>{};
    };
    ASSERT_TRUE(gateway.WaitForStatus("  MC Initialization")) << gateway.StatusText().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines().size() > 30; }, 10000))
        << gateway.StatusText().toStdString();
    EXPECT_EQ(gateway.Terminate(), 0) << gateway.StatusText().toStdString();

    const QList<QByteArray> all = lines();
    ASSERT_GT(all.size(), 30);
    EXPECT_EQ(all.first(), "(1733655296.123000) earlier 123#11");
    EXPECT_EQ(all.last(), "") << "the file ends with a whole line";
    bool errorFrame = false;
    for (qsizetype i = 1; i + 1 < all.size(); ++i) {
        const auto m = TraceLine.match(QString::fromLatin1(all[i]));
        ASSERT_TRUE(m.hasMatch()) << all[i].toStdString();
        EXPECT_EQ(m.captured(2), "vcan7");
        errorFrame = errorFrame || all[i].contains(" 200000");
    }
    EXPECT_TRUE(errorFrame) << "bus errors go in as error frames";
    EXPECT_EQ(gateway.Output(), QStringList{});
}

// The log is what the gateway is for: once it cannot be written (a full disk; the reader of its pipe gone,
// as `| head -5` does), the adapter is disabled as on SIGTERM and the run ends with 1 and one line.
TEST(GatewayTraceFile, AWriteErrorDisablesTheAdapterAndEndsTheRun) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    GatewayProcess full;
    full.LimitFileSize(4096);
    ASSERT_TRUE(full.Start({"--link=sim", "--traffic=frames=2000", "--log=" + dir.filePath("full.log")}));
    EXPECT_EQ(full.Finish(10000), 1) << full.StatusText().toStdString();
    EXPECT_EQ(full.Status().filter("full.log").size(), 1) << full.StatusText().toStdString();
    EXPECT_TRUE(full.Status().contains("  MC Disable")) << full.StatusText().toStdString();

    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    GatewayProcess piped;
    piped.SendOutputTo(pipeFds[1]);
    ASSERT_TRUE(piped.Start({"--link=sim", "--traffic=frames=2000"}));
    ::close(pipeFds[1]);
    QByteArray seen;
    while (seen.count('\n') < 5) {
        char chunk[256];
        const ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
        ASSERT_GT(n, 0);
        seen.append(chunk, n);
    }
    ::close(pipeFds[0]);
    EXPECT_EQ(piped.Finish(10000), 1) << piped.StatusText().toStdString();
    EXPECT_EQ(piped.Status().filter("Broken pipe").size(), 1) << piped.StatusText().toStdString();
}

// A link that cannot be opened is said once on stderr; where waiting makes sense (nothing there yet) the
// gateway waits for it, where it cannot help (not a terminal) it ends at once with 1.
TEST(GatewayLink, SaysWhyItCannotOpenAndWaitsOnlyWhereThatHelps) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plain = dir.filePath("plain"), fifo = dir.filePath("fifo");
    QFile(plain).open(QIODevice::WriteOnly);
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);  // never opened: that would wait for a writer
    struct Row {
        QString path;
        const char *says;
        bool waits;
    };
    for (const Row &row : {Row{dir.filePath("ttyUSB9"), "does not exist", true},
                           Row{dir.path(), "is not a serial terminal", false},
                           Row{plain, "is not a serial terminal", false},
                           Row{fifo, "is not a serial terminal", false},
                           Row{QStringLiteral("/dev/null"), "is not a serial terminal", false}}) {
        GatewayProcess gateway;
        ASSERT_TRUE(gateway.Start({"--link=serial:" + row.path}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return gateway.StatusText().contains(row.says); }, 5000))
            << row.path.toStdString() << ": " << gateway.StatusText().toStdString();
        EXPECT_EQ(row.waits ? gateway.Terminate() : gateway.Finish(), row.waits ? 0 : 1) << row.path.toStdString();
        EXPECT_EQ(gateway.Status().filter(row.says).size(), 1) << gateway.StatusText().toStdString();
    }
}

// Nobody reads the status lines any more (the terminal of an ssh session closed, say): the stop still
// disables the adapter and ends cleanly.
TEST(GatewayStatusLines, ReaderGoneStillStopsCleanly) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    GatewayProcess gateway;
    gateway.SendStatusTo(pipeFds[1]);
    ASSERT_TRUE(gateway.Start({"--link=sim"}));
    ::close(pipeFds[1]);
    // Read until the initialisation is answered, then hang up the reading end.
    QByteArray seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!seen.contains("  MC Initialization\n") && std::chrono::steady_clock::now() < deadline) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char chunk[256];
        const ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
        if (n <= 0) break;
        seen.append(chunk, n);
    }
    ::close(pipeFds[0]);
    ASSERT_TRUE(seen.contains("  MC Initialization\n")) << seen.toStdString();
    // The disable sequence's reports are status lines with nobody to read them.
    EXPECT_EQ(gateway.Terminate(), 0);
}

TEST(GatewayCommandLine, HelpVersionAndABadValueThatStartsNothing) {
    GatewayProcess help;
    ASSERT_TRUE(help.Start({"--help"}));
    EXPECT_EQ(help.Finish(), 0);
    EXPECT_TRUE(help.Output().join('\n').contains("--bitrate"));

    GatewayProcess version;
    ASSERT_TRUE(version.Start({"--version"}));
    EXPECT_EQ(version.Finish(), 0);
    const QStringList versionLine{QStringLiteral("brisklet-gateway " BRISKLET_VERSION)};
    EXPECT_EQ(version.Output(), versionLine);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString log = dir.filePath("never.log"), fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);  // never waited on
    for (const QStringList &args : {QStringList{"--link=sim", "--log=" + log, "--bitrate", "300"},
                                    QStringList{"--link=sim", "--log=" + log, "--tag=xyz"},
                                    QStringList{"--link=sim", "--log=" + log, "--settings=" + fifo}}) {
        GatewayProcess bad;
        ASSERT_TRUE(bad.Start(args));
        EXPECT_EQ(bad.Finish(), 2);
        ASSERT_EQ(bad.Status().size(), 1) << bad.StatusText().toStdString();
        EXPECT_TRUE(bad.Status().first().contains(args.last())) << bad.StatusText().toStdString();
        EXPECT_EQ(bad.Output(), QStringList{});
        EXPECT_FALSE(QFile::exists(log)) << "a bad option must not start anything";
    }

    // A link that cannot be set up, and a trace file that cannot or must not be opened (a FIFO): said in one
    // line, and nothing runs.
    GatewayProcess noLibrary;
    ASSERT_TRUE(noLibrary.Start({"--link=d2xx:" + dir.filePath("libftd2xx.so"), "--log=" + log}));
    EXPECT_EQ(noLibrary.Finish(), 1);
    ASSERT_EQ(noLibrary.Status().size(), 1) << noLibrary.StatusText().toStdString();
    EXPECT_TRUE(noLibrary.Status().first().contains("libftd2xx.so")) << noLibrary.StatusText().toStdString();
    EXPECT_FALSE(QFile::exists(log));

    for (const QString &path : {dir.filePath("no/such/folder/x.log"), fifo}) {
        GatewayProcess unopened;
        ASSERT_TRUE(unopened.Start({"--link=sim", "--log=" + path}));
        EXPECT_EQ(unopened.Finish(), 1);
        ASSERT_EQ(unopened.Status().size(), 1) << unopened.StatusText().toStdString();
        EXPECT_TRUE(unopened.Status().first().contains(path)) << unopened.StatusText().toStdString();
    }
}

// The bus seen whole without a display: the health line on stderr (--stats), the list as plain text on a
// pipe (--list), and the signal values a DBC file decodes, live (--decode) and from a log (--replay).
TEST(GatewayBusView, StatsListAndDecodedSignals) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString dbc = dir.filePath("engine.dbc"), log = dir.filePath("bus.log");
    {
        QFile f(dbc);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("VERSION \"\"\nBU_: ECU\nBO_ 514 ENGINE_DATA: 8 ECU\n"
                " SG_ RPM : 7|16@0+ (1,0) [0|8000] \"rpm\" ECU\n SG_ GEAR : 16|4@1+ (1,0) [0|8] \"\" ECU\n"
                "VAL_ 514 GEAR 3 \"Drive\" ;\n");
        QFile l(log);
        ASSERT_TRUE(l.open(QIODevice::WriteOnly));
        l.write("(1733655296.123000) can0 202#1F40030000000000\n(1733655296.200000) can0 123#11\njunk\n");
    }
    GatewayProcess replay;
    ASSERT_TRUE(replay.Start({"--replay=" + log, "--dbc=" + dbc}));
    EXPECT_EQ(replay.Finish(), 0) << replay.StatusText().toStdString();
    EXPECT_EQ(replay.Output(), (QStringList{"time,identifier,message,signal,value,unit,label",
                                            "1733655296.123000,202,ENGINE_DATA,RPM,8000,rpm,",
                                            "1733655296.123000,202,ENGINE_DATA,GEAR,3,,Drive"}));
    EXPECT_EQ(replay.Status().filter("line 3").size(), 1) << replay.StatusText().toStdString();

    GatewayProcess live;
    ASSERT_TRUE(live.Start({"--link=sim", "--traffic=frames=200", "--stats", "--list", "--dbc=" + dbc}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return live.StatusText().contains(" frames/s, "); }, 5000))
        << live.StatusText().toStdString();
    ASSERT_TRUE(live.WaitForOutputLines(3)) << live.StatusText().toStdString();
    EXPECT_TRUE(live.Output().filter(QRegularExpression("^Identifier +Form")).size() >= 1);
    EXPECT_TRUE(live.Output().filter(QRegularExpression("^load ")).size() >= 1);
    EXPECT_EQ(live.Terminate(), 0);
}

}  // namespace
