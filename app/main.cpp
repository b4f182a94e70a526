#include "Main.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BriskletVersion.h"
#include "CanBusPort.h"
#include "EmulatedFirmware.h"
#include "LinkBackend.h"
#include "Options.h"
#include "QtCanBusPort.h"
#include "SimAdapter.h"
#include "SimBackend.h"

namespace {

bool HaveDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const AppOptions options = ParseAppOptions(args);
    if (!options.Error.empty()) {
        std::fprintf(stderr, "brisklet: %s\n\n%s", options.Error.c_str(), HelpText().c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::puts("Brisklet " BRISKLET_VERSION);
        return 0;
    }
    if (!HaveDisplay()) {
        std::fputs(
            "brisklet: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
            "Run it in a desktop session, under xvfb-run, or with QT_QPA_PLATFORM=offscreen.\n",
            stderr);
        return 2;
    }

    LinkChoice choice;
    std::string why;
    if (!ParseLinkOption(options.Link, choice, why)) {
        std::fprintf(stderr, "brisklet: %s\n", why.c_str());
        return 2;
    }
    BusChoice busChoice;
    if (!options.Bus.empty()) {
        if (choice.kind != LinkKind::Sim) {
            std::fputs("brisklet: --bus needs --link=sim (brisklet-adapter takes --bus as well)\n", stderr);
            return 2;
        }
        if (!ParseBusOption(options.Bus, busChoice, why)) {
            std::fprintf(stderr, "brisklet: %s\n", why.c_str());
            return 2;
        }
    }
    TrafficRates rates;
    if (!options.Traffic.empty()) {
        if (choice.kind != LinkKind::Sim) {
            std::fputs("brisklet: --traffic needs --link=sim\n", stderr);
            return 2;
        }
        if (!ParseTrafficRates(options.Traffic, rates, why)) {
            std::fprintf(stderr, "brisklet: %s\n", why.c_str());
            return 2;
        }
    }
    ProvideEmulatorBackend(SimD2xxApi(), [] { TheSimAdapter().Plug(); });
    const bool linked = InstallLinkBackend(choice, why);
    if (!linked) std::fprintf(stderr, "brisklet: %s\n", why.c_str());
    // The emulated adapter answers commands and, when asked, hears traffic on its bus.
    std::unique_ptr<EmulatedFirmware> firmware;
    if (linked && choice.kind == LinkKind::Sim) {
        firmware = std::make_unique<EmulatedFirmware>(TheSimAdapter());
        TheSimAdapter().SetFirmware(firmware.get());
        if (!options.Traffic.empty()) firmware->StartGenerator(rates);
    }

    QApplication app(argc, argv);
    std::unique_ptr<QtCanBusPort> bus;
    if (firmware && !options.Bus.empty()) {
        bus = std::make_unique<QtCanBusPort>(busChoice);
        if (!bus->Open(why)) {
            std::fprintf(stderr, "brisklet: %s\n", why.c_str());
            firmware->StopGenerator();
            TheSimAdapter().SetFirmware(nullptr);
            return 1;
        }
        firmware->AttachBus(bus.get());
    }
    TfrmMain window;
    window.show();
    if (!linked) window.ErrorMessages(QString::fromStdString(why));
    const int rc = app.exec();
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
