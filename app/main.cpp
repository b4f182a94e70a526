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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AdapterExtras.h"
#include "AppIcon.h"
#include "BriskletBuild.h"
#include "CommandLine.h"
#include "LinkBackend.h"
#include "MessageBoxes.h"
#include "ReceiveListWindow.h"
#include "Options.h"
#include "PresenceWatch.h"
#include "QtMessages.h"
#include "RunSignals.h"
#include "SimAdapter.h"
#include "SimBackend.h"
#include "StatusLines.h"

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

    std::string why;
    ProvideEmulatorBackend(SimD2xxApi(), [] { TheSimAdapter().Plug(); });
    const bool linked = InstallLinkBackend(options.link, why);
    if (!linked) std::fprintf(stderr, "brisklet: %s\n", why.c_str());

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
    // The receive list, made the first time it is asked for (Ctrl+L, --list); a window of the main window's,
    // so closing the main window ends the program and takes it along.
    ReceiveListWindow *list = nullptr;
    std::function<void()> openList;
    WindowOptions windowOptions;
    windowOptions.InitializeOnFind = options.initialize;
    windowOptions.SayOnStderr = Say;
    windowOptions.OpenReceiveList = [&openList] { openList(); };
    TfrmMain window(windowOptions);

    AdapterExtrasHooks hooks;
    hooks.writeCommand = [&window](int code, const PayloadBuffer &payload, int length) {
        return window.CreateMessage(code, length, payload);
    };
    hooks.canTransmit = [&window] {
        return DevicePresent.load() && !(window.ListeningCheckBox && window.ListeningCheckBox->isChecked());
    };
    // Lines from other threads (the log's, a drop notice) reach the status line queued, in order.
    hooks.notice = [&window](const std::string &line) {
        Say(line);
        window.QueueLinkErrorLine(line);
    };
    // Once, on the log's thread: logging stops, everything else goes on.
    hooks.logFailed = [&window](const std::string &message, const std::string &brief) {
        Say(message);
        window.QueueLinkErrorLine(brief, message);
    };
    AdapterExtras extras(window.Session(), hooks);
    std::string logProblem;
    // A log that may not or cannot be opened (another user's link, a FIFO): the window goes on without one,
    // and says why.
    if (!options.log.empty() && !extras.OpenLog(options.log, options.logName, logProblem)) Say(logProblem);
    if (linked && options.link.kind == LinkKind::Sim) {
        // The emulated adapter answers commands and, when asked, hears traffic on its bus.
        if (!extras.StartEmulator(options.trafficGiven ? &options.traffic : nullptr,
                                  options.busGiven ? &options.bus : nullptr, why)) {
            std::fprintf(stderr, "brisklet: %s\n", why.c_str());
            return 1;
        }
    } else if (options.busGiven) {
        // Any other link: the adapter mirrored onto the bus, both ways; a bus that fails is said once and
        // the window goes on with the adapter alone.
        extras.StartMirror(options.bus);
    }
    openList = [&] {
        if (!list) {
            list = new ReceiveListWindow(&extras.Table(), &extras.Health(), ReceiveListWindow::DefaultSettingsPath(),
                                         &window);
            for (const std::string &file : options.dbcFiles)
                if (const QString problem = list->LoadDbc(QString::fromStdString(file)); !problem.isEmpty())
                    Say(problem.toStdString());
        }
        list->show();
        list->raise();
        list->activateWindow();
    };
    window.show();
    if (options.list || !options.dbcFiles.empty()) openList();
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
    delete list;  // before the table it reads (and its plot's sampler) go with `extras`
    list = nullptr;
    lines.Drain();
    stderrLines = nullptr;
    closeRequest.reset();
    if (signalFd >= 0) close(signalFd);
    extras.Stop();  // the window's receive thread has stopped at its close: nothing feeds them any more
    return rc;
}
