#include "Main.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "AppIcon.h"
#include "BriskletBuild.h"
#include "BusMirror.h"
#include "CanBusPort.h"
#include "CommandLine.h"
#include "CommandWrite.h"
#include "EmulatedFirmware.h"
#include "LinkBackend.h"
#include "MessageBoxes.h"
#include "Options.h"
#include "PresenceWatch.h"
#include "QtCanBusPort.h"
#include "QtMessages.h"
#include "RunSignals.h"
#include "SimAdapter.h"
#include "SimBackend.h"
#include "StatusLines.h"
#include "TraceLog.h"

namespace {

// The program's status lines on stderr, once the event loop exists; before that, straight fprintf.
std::atomic<StatusLines *> stderrLines{nullptr};

void Say(const std::string &line) {
    if (StatusLines *lines = stderrLines.load())
        lines->Post(line);
    else
        std::fprintf(stderr, "brisklet: %s\n", line.c_str());
}

bool HaveDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    AppOptions options;
    int exitCode = 0;
    if (!Proceed(ParseAppOptions(arguments, options), exitCode)) return exitCode;
    RouteQtMessages("brisklet", false);
    if (!options.platformGiven && !HaveDisplay()) {
        std::fputs(
            "brisklet: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
            "Run it in a desktop session, under xvfb-run, or with -platform offscreen.\n",
            stderr);
        return 2;
    }

    // Each end-of-run signal closes the window as the operator would, so the link is closed and the settings
    // are written. Read from a signalfd on the window thread: one that comes early waits until the window
    // is there to close.
    const sigset_t closeSignals = EndOfRunSignals();
    IgnoreWriteSignals();
    pthread_sigmask(SIG_BLOCK, &closeSignals, nullptr);  // before any thread exists, so all inherit it

    std::string why, logProblem;
    std::unique_ptr<TraceLog> trace;
    if (!options.log.empty()) {
        TraceLogOptions traceOptions;
        traceOptions.interfaceName = options.logName;
        traceOptions.adapterClockSet = &AdapterClockSet;
        // On the receive thread, once: logging stops, the receive path goes on.
        traceOptions.onError = [](const std::string &message, const std::string &brief) {
            Say(message);
            if (frmMain) frmMain->QueueLinkErrorLine(brief, message);
        };
        trace = std::make_unique<TraceLog>(traceOptions);
        // A log that may not or cannot be opened (another user's link, a FIFO): the window goes on without
        // one, and says why.
        if (!trace->Open(options.log, logProblem)) {
            std::fprintf(stderr, "brisklet: %s\n", logProblem.c_str());
            trace.reset();
        }
    }
    ProvideEmulatorBackend(SimD2xxApi(), [] { TheSimAdapter().Plug(); });
    const bool linked = InstallLinkBackend(options.link, why);
    if (!linked) std::fprintf(stderr, "brisklet: %s\n", why.c_str());
    // The emulated adapter answers commands and, when asked, hears traffic on its bus.
    std::unique_ptr<EmulatedFirmware> firmware;
    if (linked && options.link.kind == LinkKind::Sim) {
        firmware = std::make_unique<EmulatedFirmware>(TheSimAdapter());
        TheSimAdapter().SetFirmware(firmware.get());
        if (options.trafficGiven) firmware->StartGenerator(options.traffic);
    }

    // QApplication sees Qt's own options only; it keeps argc and argv for its whole life.
    std::vector<char *> qtArgv;
    for (std::string &arg : options.qtArguments) qtArgv.push_back(arg.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;
    QApplication app(qtArgc, qtArgv.data());
    QGuiApplication::setDesktopFileName(QStringLiteral(BRISKLET_DESKTOP_ID));
    QApplication::setWindowIcon(AppIcon());
    StatusLines lines(STDERR_FILENO, "brisklet: ");
    stderrLines = &lines;
    std::unique_ptr<QtCanBusPort> bus;
    if (firmware && options.busGiven) {
        bus = std::make_unique<QtCanBusPort>(options.bus);
        if (!bus->Open(why)) {
            std::fprintf(stderr, "brisklet: %s\n", why.c_str());
            firmware->StopGenerator();
            TheSimAdapter().SetFirmware(nullptr);
            return 1;
        }
        firmware->AttachBus(bus.get());
    }
    WindowOptions windowOptions;
    windowOptions.InitializeOnFind = options.initialize;
    windowOptions.SayOnStderr = Say;
    TfrmMain window(windowOptions);
    if (trace) window.AttachTraceLog(std::move(trace));
    // Any other link: the adapter mirrored onto the bus, both ways. The window's timer paces what goes
    // to the adapter; a bus that fails is said once and the window goes on with the adapter alone.
    std::unique_ptr<BusMirror> mirror;
    QTimer mirrorTimer;
    if (!firmware && options.busGiven) {
        BusMirrorHooks hooks;
        hooks.writeCommand = [&window](int code, const PayloadBuffer &payload, int length) {
            return window.CreateMessage(code, length, payload);
        };
        hooks.canTransmit = [&window] {
            return DevicePresent.load() &&
                   !(window.ListeningCheckBox && window.ListeningCheckBox->isChecked());
        };
        hooks.notice = [&window](const std::string &line) {
            Say(line);
            window.ErrorMessages(QString::fromStdString(line));
        };
        // What the adapter transmitted goes into the trace log as a sent line, between two pumps.
        hooks.sent = [&window](uint32_t id, uint8_t info, bool remote, const uint8_t (&data)[8]) {
            const candump::Timestamp now = SystemClockStamp();
            auto hold = EnterPumpGate();
            if (TraceLog *log = window.AttachedTraceLog()) log->SentFrame(now, id, info, remote, data);
        };
        mirror = std::make_unique<BusMirror>(options.bus, std::move(hooks));
        if (mirror->Start()) mirror->Attach();
        QObject::connect(&mirrorTimer, &QTimer::timeout, &window, [&mirror] { mirror->TransmitNext(); });
        mirrorTimer.start(BusMirror::TickInterval);
    }
    window.show();
    const int signalFd = signalfd(-1, &closeSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    std::unique_ptr<QSocketNotifier> closeRequest;
    if (signalFd >= 0) {
        closeRequest = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(closeRequest.get(), &QSocketNotifier::activated, &window, [signalFd, &window] {
            signalfd_siginfo info;
            while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            // Nobody may be there to answer a box (a session that ends, a service manager): every box goes,
            // what it said goes to stderr, and the window closes as its close box does.
            for (const QString &text : CloseMessageBoxes())
                Say("closed unanswered at the stop signal: " + text.toStdString());
            window.close();
        });
    } else {
        pthread_sigmask(SIG_UNBLOCK, &closeSignals, nullptr);  // the signals then end the program as usual
    }
    if (!logProblem.empty()) window.ErrorMessages(QString::fromStdString(logProblem));
    if (!linked) window.ErrorMessages(QString::fromStdString(why));
    const int rc = app.exec();
    lines.Drain();
    stderrLines = nullptr;
    closeRequest.reset();
    if (signalFd >= 0) close(signalFd);
    mirrorTimer.stop();
    mirror.reset();  // after the window's receive thread has stopped: no pump calls it any more
    if (bus) {
        firmware->AttachBus(nullptr);
        bus->Close();
    }
    if (firmware) {
        firmware->StopGenerator();
        TheSimAdapter().SetFirmware(nullptr);
    }
    return rc;
}
