// The adapter emulator's command line. Parsed before anything is opened, so --help needs no terminal.
#pragma once

#include <string>
#include <vector>

#include "Traffic.h"

// The stable name's default, one per user so that no one else can take it over or point it elsewhere:
// $XDG_RUNTIME_DIR/brisklet-adapter where that folder is set, absolute and private to this user;
// otherwise /tmp/brisklet-adapter-<uid>.
std::string DefaultAdapterLinkPath();

struct AdapterOptions {
    std::string linkPath = DefaultAdapterLinkPath();  // the stable name of the pseudo-terminal
    TrafficRates rates;                               // what the adapter hears on its bus
    bool traffic = false;                             // --traffic was given
    std::string bus;                                  // --bus=KIND:CHANNEL, empty: no real bus
    bool help = false;
    bool version = false;
    std::string error;  // set when the command line cannot be used
};

AdapterOptions ParseAdapterOptions(const std::vector<std::string> &args);  // without the program name
std::string AdapterHelpText();
