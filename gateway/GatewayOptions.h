// brisklet-gateway's command line. Everything is read and checked here, the settings file included,
// before anything is opened or started, so a bad option never starts anything.
//
// The CAN settings come from the settings file named by --settings (the window's Brisklet.INI format)
// when one is given, and each CAN option given on the command line then replaces the file's value:
//   --settings=Brisklet.INI --bitrate=500   -> the file's filter and mode at 500 kbit/s
// Without --settings: 250 kbit/s, normal mode, high-speed transceiver, 11-bit, tag and mask 0 (every
// frame passes), as the window starts without a settings file.
//
// Values are taken as --opt=value or --opt value. A bad value gives one line naming the option and the
// value, e.g. "--bitrate=300: not a rate of the list (10, 20, 50, 100, 125, 250, 500, 1000 kbit/s)".
#pragma once

#include <QStringList>
#include <string>
#include <vector>

#include "AdapterSequences.h"
#include "CandumpLine.h"
#include "CanBusPort.h"
#include "CommandLine.h"
#include "EmulatedFirmware.h"
#include "LinkBackend.h"

struct GatewayOptions {
    LinkChoice link;
    CanSetup can;
    std::string logPath = "-";  // "-": standard output
    std::string logName{candump::DefaultInterfaceName};
    bool traffic = false;  // --traffic was given (only with --link=sim)
    TrafficRates rates;
    bool busGiven = false;  // --bus: the adapter mirrored onto this bus
    BusChoice bus;
    bool verbose = false;  // --verbose: Qt's own debug and info lines too
    std::vector<std::string> dbcFiles;  // --dbc: what --decode and --replay decode by
    bool decode = false;                // --decode: the log holds decoded signal values (CSV)
    std::string replay;                 // --replay=FILE: decode this candump log; no adapter
    bool stats = false;                 // --stats: the bus health line on stderr once a second
    bool list = false;                  // --list: the receive list on standard output
    bool logGiven = false;              // --log was given (with --list the log has no default)
};

// `arguments` with the program's name first, as QCoreApplication::arguments() gives them. `options` is
// complete when the outcome says run; a bad value ends with 2 and one line naming it (CommandLine).
CommandLine::Outcome ParseGatewayOptions(const QStringList &arguments, GatewayOptions &options);

// "0x7FF", "7ff" and "1ABCDEF0" are numbers; "", "0x", "7FG", "123456789" (over 32 bits) are not.
bool ParseHexOption(const QString &text, uint32_t &value);
