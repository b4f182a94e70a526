// brisklet-gateway as a child process of a test, with no display in its environment: its standard output
// and standard error gathered as lines, and always killed and reaped when the object goes.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>

#ifndef BRISKLET_GATEWAY_PATH
#define BRISKLET_GATEWAY_PATH BRISKLET_BINARY_DIR "/gateway/brisklet-gateway"
#endif

class GatewayProcess {
public:
    GatewayProcess() = default;
    ~GatewayProcess() { Kill(); }
    GatewayProcess(const GatewayProcess &) = delete;
    GatewayProcess &operator=(const GatewayProcess &) = delete;

    static QString Program() { return QStringLiteral(BRISKLET_GATEWAY_PATH); }

    // A machine without a display: none of the variables that would let Qt find one.
    static QProcessEnvironment Headless() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        return env;
    }

    bool Start(const QStringList &arguments) {
        process_.setProgram(Program());
        process_.setArguments(arguments);
        process_.setProcessEnvironment(Headless());
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        return process_.waitForStarted(5000);
    }

    // Waits until standard error has a line equal to `line` (its `count`-th such line).
    bool WaitForStatus(const QString &line, int count = 1, int ms = 5000) {
        return QTest::qWaitFor([&] { return (Collect(), errLines_.count(line) >= count); }, ms);
    }
    bool WaitForOutputLines(int count, int ms = 5000) {
        return QTest::qWaitFor([&] { return (Collect(), outLines_.size() >= count); }, ms);
    }
    // SIGTERM, then waits for the end. Its exit code, -1 if it crashed or did not end.
    int Terminate(int ms = 5000) {
        process_.terminate();
        return Finish(ms);
    }
    int Finish(int ms = 5000) {
        if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(ms)) return -1;
        Collect();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    void Kill() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Standard error (or output) goes to `fd` (the write end of a pipe the test holds) instead of being
    // gathered.
    void SendStatusTo(int fd) {
        process_.setChildProcessModifier([fd] { ::dup2(fd, STDERR_FILENO); });
    }
    void SendOutputTo(int fd) {
        process_.setChildProcessModifier([fd] { ::dup2(fd, STDOUT_FILENO); });
    }
    // No file the program writes may grow past `bytes` (a full disk, as the program sees it).
    void LimitFileSize(rlim_t bytes) {
        process_.setChildProcessModifier([bytes] {
            const rlimit limit{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    // Standard output goes to the file at `path` instead of being gathered.
    void SendOutputTo(const QString &path) { process_.setStandardOutputFile(path); }
    qint64 Pid() const { return process_.processId(); }

    const QStringList &Status() { return (Collect(), errLines_); }
    const QStringList &Output() { return (Collect(), outLines_); }
    QString StatusText() { return Status().join(" | "); }

private:
    void Collect() {
        Take(QProcess::StandardOutput, outPartial_, outLines_);
        Take(QProcess::StandardError, errPartial_, errLines_);
    }
    void Take(QProcess::ProcessChannel channel, QByteArray &partial, QStringList &lines) {
        process_.setReadChannel(channel);
        partial += process_.readAll();
        qsizetype end;
        while ((end = partial.indexOf('\n')) >= 0) {
            lines << QString::fromLocal8Bit(partial.left(end));
            partial.remove(0, end + 1);
        }
    }

    QProcess process_;
    QByteArray outPartial_, errPartial_;
    QStringList outLines_, errLines_;
};
