// The programs themselves: help and version without a display, a bad option ending the program before any
// window opens, Qt's own options reaching Qt, and a window on the emulator closed by SIGTERM as a desktop
// session closes it, writing its settings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <sys/stat.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>

#include "BriskletBuild.h"

namespace {

constexpr int ExitWaitMs = 20000;

QProcessEnvironment WithoutDisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    return env;
}

struct Finished {
    int exitCode = -1;
    QByteArray out, err;
};

Finished RunProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Finished r;
    if (!p.waitForFinished(ExitWaitMs) || p.exitStatus() != QProcess::NormalExit) return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

TEST(Programs, HelpAndVersionNeedNoDisplay) {
    for (const char *program : {BRISKLET_PATH, BRISKLET_ADAPTER_PATH}) {
        const QString name = QString::fromLatin1(program).section('/', -1);
        SCOPED_TRACE(program);
        const Finished version = RunProgram(program, {"--version"}, WithoutDisplay());
        EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
        EXPECT_EQ(version.out, (name + " " BRISKLET_VERSION "\n").toUtf8());
        const Finished help = RunProgram(program, {"--help"}, WithoutDisplay());
        EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
        EXPECT_TRUE(help.out.startsWith(("Usage: " + name + " [options]\n").toUtf8()))
            << help.out.toStdString();
        EXPECT_TRUE(help.err.isEmpty());
    }
}

// With a display at hand, a bad option must still end the program with one line, and no window.
TEST(Programs, BadOptionEndsBeforeAnyWindow) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const Finished serial = RunProgram(BRISKLET_PATH, {"--link=serial:/dev/ttyUSB0@12345"}, env);
    EXPECT_EQ(serial.exitCode, 2);
    EXPECT_TRUE(serial.out.isEmpty());
    EXPECT_TRUE(serial.err.startsWith("brisklet: --link=serial:/dev/ttyUSB0@12345: "))
        << serial.err.toStdString();
    EXPECT_EQ(serial.err.count('\n'), 1) << serial.err.toStdString();

    const Finished traffic = RunProgram(BRISKLET_ADAPTER_PATH, {"--traffic", "frames=nan"}, env);
    EXPECT_EQ(traffic.exitCode, 2);
    EXPECT_TRUE(traffic.err.contains("\"nan\"")) << traffic.err.toStdString();
    EXPECT_EQ(traffic.err.count('\n'), 1) << traffic.err.toStdString();
}

bool BlocksSigterm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith("SigBlk:")) continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (mask & (1ull << (SIGTERM - 1))) != 0;
    }
    return false;
}

// -platform on the command line is enough for a window without any display variable: Qt got it. The
// program runs from a folder of its own, where its settings file appears when SIGTERM closes the window.
TEST(Programs, WindowOnTheEmulatorClosesOnSigtermAndKeepsItsSettings) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("brisklet");
    ASSERT_TRUE(QFile::copy(BRISKLET_PATH, program));
    QProcess p;
    p.setProcessEnvironment(WithoutDisplay());
    p.start(program, {"-platform", "offscreen", "--link", "sim", "--traffic", "frames=50"});
    ASSERT_TRUE(p.waitForStarted(ExitWaitMs));
    // Once the close signals are blocked, a SIGTERM waits for the window instead of killing the process.
    ASSERT_TRUE(QTest::qWaitFor([&] { return BlocksSigterm(p.processId()); }, ExitWaitMs))
        << p.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(ExitWaitMs));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QFile settings(dir.filePath("Brisklet.INI"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly)) << "no settings written at close";
    const QByteArray text = settings.readAll();
    EXPECT_TRUE(text.contains("[CAN]")) << text.toStdString();
    EXPECT_TRUE(text.contains("Speed=5")) << text.toStdString();
}

// The settings cannot be written at a SIGTERM (no file may grow here, as on a full disk): the box that says
// so must not hold the process, whose session may be gone. A further stop signal closes it; what it said
// goes to stderr.
TEST(Programs, AStopSignalClosesABoxNobodyAnswers) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString program = dir.filePath("brisklet");
    ASSERT_TRUE(QFile::copy(BRISKLET_PATH, program));
    QProcess p;
    p.setChildProcessModifier([] {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &none);
    });
    p.setProcessEnvironment(WithoutDisplay());
    p.start(program, {"-platform", "offscreen", "--link", "sim"});
    ASSERT_TRUE(p.waitForStarted(ExitWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return BlocksSigterm(p.processId()); }, ExitWaitMs));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    // The box comes up in the close; every further signal after it closes whatever box is up.
    for (int i = 0; i < 50 && !p.waitForFinished(200); ++i) ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_EQ(p.state(), QProcess::NotRunning) << "still running: the box holds it";
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().contains("Unable to write")) << "what the box said is on stderr";
}

// A FIFO as the trace log, the settings file and the link's node: each refused in one line on stderr and
// never waited on; the window runs on without them until SIGTERM closes it, and leaves the FIFO as it is.
TEST(Programs, WindowRefusesAFifoAtEachPathInOneLineAndRunsOn) {
    QTemporaryDir dir;
    const QString program = dir.filePath("brisklet"), fifo = dir.filePath("Brisklet.INI");
    ASSERT_TRUE(QFile::copy(BRISKLET_PATH, program) && ::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
    const QStringList lines{"trace log " + fifo + " not opened: it is a FIFO, not a regular file",
                            fifo + " is a FIFO, not a regular file: not read, and not rewritten at close",
                            fifo + " is not a serial terminal; not opened"};
    QProcess p;
    p.setProcessEnvironment(WithoutDisplay());
    p.start(program, {"-platform", "offscreen", "--log=" + fifo, "--link=serial:" + fifo});
    QByteArray err;
    auto said = [&](const QString &line) {
        return QString::fromLocal8Bit(err).count("brisklet: " + line + "\n");
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (err += p.readAllStandardError(), std::all_of(lines.begin(), lines.end(), said)); },
        ExitWaitMs))
        << err.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(ExitWaitMs));
    EXPECT_EQ(p.exitCode(), 0);
    err += p.readAllStandardError();
    for (const QString &line : lines) EXPECT_EQ(said(line), 1) << err.toStdString();
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.toLocal8Bit().constData(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// The log on standard output, a pipe nobody reads, under a flood: the window drops lines for the log alone,
// says so, and still closes at once on SIGTERM.
TEST(Programs, ALogNobodyReadsNeverHoldsUpTheWindow) {
    QTemporaryDir dir;
    const QString program = dir.filePath("brisklet");
    ASSERT_TRUE(QFile::copy(BRISKLET_PATH, program));
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    QProcess p;
    p.setChildProcessModifier([fd = pipeFds[1]] { ::dup2(fd, STDOUT_FILENO); });
    p.setProcessEnvironment(WithoutDisplay());
    p.start(program, {"-platform", "offscreen", "--link=sim", "--initialize", "--traffic=frames=20000", "--log=-"});
    ::close(pipeFds[1]);
    ASSERT_TRUE(p.waitForStarted(ExitWaitMs));
    QByteArray err;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (err += p.readAllStandardError()).contains("not keeping up"); }, ExitWaitMs))
        << err.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(2000)) << "still running: the log's pipe holds it";
    EXPECT_EQ(p.exitCode(), 0);
    ::close(pipeFds[0]);
}

}  // namespace
