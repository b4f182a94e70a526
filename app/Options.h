// brisklet's command line. Parsed before any window exists, so --help and --version need no display.
#pragma once

#include <QStringList>
#include <string>
#include <vector>

#include "CanBusPort.h"
#include "CommandLine.h"
#include "LinkBackend.h"
#include "EmulatedFirmware.h"

struct AppOptions {
    LinkChoice link;  // Auto unless --link names one
    BusChoice bus;    // with `busGiven`: the CAN bus the emulated adapter is bridged to
    bool busGiven = false;
    TrafficRates traffic;  // with `trafficGiven`: what the emulated adapter hears on its bus
    bool trafficGiven = false;
    std::string log;                     // --log: the trace log's file, "-" for standard output; empty: none
    std::string logName = "brisklet0";   // --log-name: the interface field of its lines
    bool initialize = false;             // --initialize: initialise the adapter whenever it is found
    bool list = false;                   // --list: the receive list open from the start
    std::vector<std::string> dbcFiles;   // --dbc: what the receive list decodes by
    std::vector<std::string> qtArguments;  // the program and Qt's own options, for QApplication
    bool platformGiven = false;            // -platform was among them
};

// `arguments` with the program first, as main() has them. `options` is complete when the outcome says run.
CommandLine::Outcome ParseAppOptions(const QStringList &arguments, AppOptions &options);
