// brisklet-adapter: the USB-to-CAN adapter played by a process of its own on a pseudo-terminal. Brisklet
// reaches it with --link=serial:<link path>; stopping this program is pulling the adapter out, starting it
// again is plugging it back in.
#include <pthread.h>

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "AdapterOptions.h"
#include "EmulatedFirmware.h"
#include "PtyBridge.h"
#include "PtyPort.h"
#include "QtCanBusPort.h"
#include "QtMessages.h"
#include "RunSignals.h"
#include "SimAdapter.h"

int main(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    AdapterOptions options;
    int exitCode = 0;
    if (!Proceed(ParseAdapterOptions(arguments, options), exitCode)) return exitCode;
    RouteQtMessages("brisklet-adapter", false);
    std::string why;

    // Taken by sigwait() on the main thread, so the clean-up (the symbolic link above all) runs as
    // ordinary code.
    const sigset_t stopSignals = EndOfRunSignals();
    IgnoreWriteSignals();
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // before any thread exists, so all inherit it

    // Qt's CAN bus plugins need an application object; the bus device runs on a thread of its own, so
    // the main thread never has to run Qt's event loop. It gets no arguments: they are all ours.
    int appArgc = 1;
    QCoreApplication app(appArgc, argv);

    PtyPort pty;
    if (!pty.Open(why)) {
        std::fprintf(stderr, "brisklet-adapter: %s\n", why.c_str());
        return 1;
    }
    StableName name;
    if (!name.Point(options.linkPath, pty.SlavePath(), why)) {
        std::fprintf(stderr, "brisklet-adapter: %s\n", why.c_str());
        return 1;
    }

    SimAdapter chip;
    EmulatedFirmware firmware(chip);
    chip.SetFirmware(&firmware);
    chip.Plug();
    PtyBridge bridge(pty.MasterFd(), chip);
    if (!bridge.Start()) {
        std::fputs("brisklet-adapter: the emulated chip refused its host\n", stderr);
        return 1;
    }
    std::unique_ptr<QtCanBusPort> bus;
    if (options.busGiven) {
        bus = std::make_unique<QtCanBusPort>(options.bus);
        if (!bus->Open(why)) {
            std::fprintf(stderr, "brisklet-adapter: %s\n", why.c_str());
            name.Remove();
            bridge.Stop();
            chip.Unplug();
            chip.SetFirmware(nullptr);
            return 1;
        }
        firmware.AttachBus(bus.get());
    }
    if (options.traffic) firmware.StartGenerator(options.rates);

    std::printf("%s\n", pty.SlavePath().c_str());
    std::printf("brisklet-adapter: plugged in as %s; run: brisklet --link=serial:%s\n",
                options.linkPath.c_str(), options.linkPath.c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);

    // Unplugging: the name goes first, so that Brisklet's next probe already finds nothing to open.
    name.Remove();
    firmware.StopGenerator();
    if (bus) {
        firmware.AttachBus(nullptr);
        bus->Close();
    }
    bridge.Stop();
    chip.Unplug();
    chip.SetFirmware(nullptr);
    std::printf("brisklet-adapter: unplugged (signal %d)\n", received);
    return 0;
}
