// The adapter emulator as a child process of a test: started with a link path inside the test's temporary
// folder, and always killed and reaped when the object goes, whatever the test did.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <string>

#ifndef BRISKLET_ADAPTER_PATH
#define BRISKLET_ADAPTER_PATH BRISKLET_BINARY_DIR "/adapter/brisklet-adapter"
#endif

class AdapterProcess {
public:
    AdapterProcess() = default;
    ~AdapterProcess() { Kill(); }
    AdapterProcess(const AdapterProcess &) = delete;
    AdapterProcess &operator=(const AdapterProcess &) = delete;

    static QString Program() { return QStringLiteral(BRISKLET_ADAPTER_PATH); }

    // Starts it and waits for the line naming its terminal; false (with the reason in Error()) otherwise.
    bool Start(const QString &linkPath, const QStringList &extra = {}) {
        Kill();
        slave_.clear();
        process_.setProgram(Program());
        process_.setArguments(QStringList{"--link-path=" + linkPath} + extra);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start();
        if (!process_.waitForStarted(5000)) return Fail("did not start: " + process_.errorString());
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(5000))
                return Fail("said nothing: " + QString::fromLocal8Bit(process_.readAllStandardError()));
        }
        slave_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        return true;
    }
    // SIGTERM, as Ctrl+C would: the program unplugs itself and exits. Returns its exit code (-1: crashed).
    int Stop() {
        if (process_.state() == QProcess::NotRunning) return -1;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            Kill();
            return -1;
        }
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    // SIGKILL: no clean-up at all, as when the adapter's cable is torn out.
    void Kill() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    const QString &Slave() const { return slave_; }
    const QString &Error() const { return error_; }

private:
    bool Fail(const QString &why) {
        error_ = why;
        Kill();
        return false;
    }

    QProcess process_;
    QString slave_, error_;
};
