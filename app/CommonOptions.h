// The options more than one program takes, with one wording of their help: brisklet, brisklet-adapter and
// any console tool on the same link or bus add them from here.
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

struct BusChoice;
struct LinkChoice;
struct TrafficRates;

// --link=KIND: how to reach the adapter. A serial target is checked here too (its baud rate above all), so
// a mistyped one is refused before anything opens. Without the option `choice` stays as it is.
void AddLinkOption(CommandLine &cli, LinkChoice &choice);
// --bus=PLUGIN:INTERFACE: a CAN bus reached through Qt SerialBus; `given` tells whether it was.
void AddBusOption(CommandLine &cli, BusChoice &choice, bool &given);
// --log=FILE and --log-name=NAME: the trace log in the candump -l format; `without` says where the lines go
// when --log is not given ("nowhere", "standard output").
void AddLogOptions(CommandLine &cli, std::string &path, std::string &name, const char *without);
// --dbc=FILE, repeatable: DBC files whose messages and signals the receive list shows (the first file that
// defines an identifier wins). Read later; here only that a name is given.
void AddDbcOption(CommandLine &cli, std::vector<std::string> &files);
// --traffic=RATES: what an emulated adapter hears on its bus; `given` tells whether it was.
void AddTrafficOption(CommandLine &cli, TrafficRates &rates, bool &given);
