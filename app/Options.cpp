#include "Options.h"

#include "CandumpLine.h"
#include "CommonOptions.h"

CommandLine::Outcome ParseAppOptions(const QStringList &arguments, AppOptions &options) {
    AppOptions parsed;
    CommandLine cli("brisklet", "Watch and drive a CAN bus through a USB-to-CAN adapter.");
    AddLinkOption(cli, parsed.link);
    AddTrafficOption(cli, parsed.traffic, parsed.trafficGiven);
    AddBusOption(cli, parsed.bus, parsed.busGiven);
    cli.AddValue({"log"}, "FILE",
                 "append every CAN frame and bus error the window counts to FILE\n"
                 "in the candump -l format (- for standard output)",
                 [&](const std::string &v, std::string &why) {
                     if (v.empty()) {
                         why = "needs a file name (- for standard output)";
                         return false;
                     }
                     parsed.log = v;
                     return true;
                 });
    cli.AddValue({"log-name"}, "NAME", "the interface name in the log's lines (default brisklet0)",
                 [&](const std::string &v, std::string &why) {
                     if (!candump::ValidInterfaceName(v)) {
                         why = "'" + v + "' is not an interface name (1 to 32 printable characters, no blanks)";
                         return false;
                     }
                     parsed.logName = v;
                     return true;
                 });
    cli.AddFlag({"initialize"},
                "initialise the adapter whenever it is found (at start and after\n"
                "every replug) with the window's settings, as the Initialize button does");
    cli.AddQtWindowOptions();
    cli.SetFooter(
        "--bus mirrors the adapter onto a CAN bus: frames it receives go onto the\n"
        "bus, frames other nodes write there are sent by the adapter (slot 7).\n"
        "With --link=sim it is the emulated adapter's own bus instead. --traffic\n"
        "needs --link=sim; brisklet-adapter takes it for the serial link. Qt's own options (-platform NAME, -style NAME, ...)\n"
        "work as in any Qt program.\n"
        "\n"
        "The settings are kept in a file named Brisklet.INI (the README says where).\n");
    CommandLine::Outcome outcome = cli.Parse(arguments);
    if (!outcome.run) return outcome;
    if (parsed.link.kind != LinkKind::Sim && parsed.trafficGiven)
        return cli.Refuse("--traffic needs --link=sim (brisklet-adapter takes it for the serial link)");
    parsed.qtArguments = cli.QtArguments();
    parsed.platformGiven = cli.IsSet(QStringLiteral("platform"));
    parsed.initialize = cli.IsSet(QStringLiteral("initialize"));
    options = std::move(parsed);
    return outcome;
}
