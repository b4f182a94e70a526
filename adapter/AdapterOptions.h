// The adapter emulator's command line. Parsed before anything is opened, so --help needs no terminal.
#pragma once

#include <QStringList>
#include <string>

#include "CanBusPort.h"
#include "CommandLine.h"
#include "EmulatedFirmware.h"

constexpr const char *DefaultAdapterLinkPath = "/tmp/brisklet-adapter";

struct AdapterOptions {
    std::string linkPath = DefaultAdapterLinkPath;  // the stable name of the pseudo-terminal
    TrafficRates rates;                             // what the adapter hears on its bus
    bool traffic = false;                           // --traffic was given
    BusChoice bus;                                  // with busGiven: the CAN bus to bridge to
    bool busGiven = false;
};

// `arguments` with the program first, as main() has them. `options` is complete when the outcome says run.
CommandLine::Outcome ParseAdapterOptions(const QStringList &arguments, AdapterOptions &options);
