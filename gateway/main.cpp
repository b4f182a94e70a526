// brisklet-gateway: Brisklet without a display. See GatewayOptions.h for the command line and Gateway.h
// for what it runs.
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "Gateway.h"
#include "GatewayOptions.h"
#include "LinkBackend.h"
#include "QtMessages.h"
#include "Replay.h"
#include "RunSignals.h"
#include "SimAdapter.h"
#include "SimBackend.h"

int main(int argc, char **argv) {
    // The stop signals (Ctrl+C, the session or service manager, the terminal going away) are blocked
    // before any thread exists, so every thread inherits the mask and the signals wait in the signalfd
    // for the event loop, which disables the adapter as ordinary code.
    const sigset_t stopSignals = EndOfRunSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A reader of standard output that goes away must not end the run before the adapter is disabled: the
    // write fails instead, and the trace log reports it once.
    IgnoreWriteSignals();

    QCoreApplication app(argc, argv);
    GatewayOptions options;
    int exitCode = 0;
    if (!Proceed(ParseGatewayOptions(QCoreApplication::arguments(), options), exitCode)) return exitCode;
    RouteQtMessages("brisklet-gateway", options.verbose);

    if (!options.replay.empty()) {
        StatusLines status(STDERR_FILENO, "brisklet-gateway: ");
        return RunReplay(options, status);
    }
    std::string why;
    ProvideEmulatorBackend(SimD2xxApi(), [] { TheSimAdapter().Plug(); });
    if (!InstallLinkBackend(options.link, why)) {
        std::fprintf(stderr, "brisklet-gateway: %s\n", why.c_str());
        return 1;
    }
    const int signalFd = ::signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("brisklet-gateway: signalfd");
        return 1;
    }
    Gateway gateway(options, signalFd);
    if (!gateway.Start(why)) {
        std::fprintf(stderr, "brisklet-gateway: %s\n", why.c_str());
        ::close(signalFd);
        return 1;
    }
    const int rc = QCoreApplication::exec();
    gateway.Stop();
    ::close(signalFd);
    return rc;
}
