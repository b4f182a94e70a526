// The adapter emulator's command line. Parsed before anything is opened, so --help needs no terminal.
#pragma once

#include <QStringList>
#include <string>

#include "CanBusPort.h"
#include "CommandLine.h"
#include "EmulatedFirmware.h"

// The stable name's default, one per user so that no one else can take it over or point it elsewhere:
// $XDG_RUNTIME_DIR/brisklet-adapter where that folder is set, absolute and private to this user;
// otherwise /tmp/brisklet-adapter-<uid>.
std::string DefaultAdapterLinkPath();

struct AdapterOptions {
    std::string linkPath = DefaultAdapterLinkPath();  // the stable name of the pseudo-terminal
    TrafficRates rates;                             // what the adapter hears on its bus
    bool traffic = false;                           // --traffic was given
    BusChoice bus;                                  // with busGiven: the CAN bus to bridge to
    bool busGiven = false;
};

// `arguments` with the program first, as main() has them. `options` is complete when the outcome says run.
CommandLine::Outcome ParseAdapterOptions(const QStringList &arguments, AdapterOptions &options);
