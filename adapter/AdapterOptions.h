// The adapter emulator's command line. Parsed before anything is opened, so --help needs no terminal.
#pragma once

#include <string>
#include <vector>

#include "EmulatedFirmware.h"

constexpr const char *DefaultAdapterLinkPath = "/tmp/brisklet-adapter";

struct AdapterOptions {
    std::string linkPath = DefaultAdapterLinkPath;  // the stable name of the pseudo-terminal
    TrafficRates rates;                             // what the adapter hears on its bus
    bool traffic = false;                           // --traffic was given
    std::string bus;                                // --bus=KIND:CHANNEL, empty: no real bus
    bool help = false;
    bool version = false;
    std::string error;  // set when the command line cannot be used
};

AdapterOptions ParseAdapterOptions(const std::vector<std::string> &args);  // without the program name
std::string AdapterHelpText();
