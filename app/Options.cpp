#include "Options.h"

#include "CandumpLine.h"
#include "CommonOptions.h"

CommandLine::Outcome ParseAppOptions(const QStringList &arguments, AppOptions &options) {
    AppOptions parsed;
    CommandLine cli("brisklet", "Watch and drive a CAN bus through a USB-to-CAN adapter.");
    AddLinkOption(cli, parsed.link);
    AddTrafficOption(cli, parsed.traffic, parsed.trafficGiven);
    AddBusOption(cli, parsed.bus, parsed.busGiven);
    AddLogOptions(cli, parsed.log, parsed.logName, "no log");
    AddDbcOption(cli, parsed.dbcFiles);
    cli.AddFlag({"list"}, "Open the receive list (one row per identifier, Ctrl+L) beside the window from the start.");
    cli.AddFlag({"initialize"},
                "Initialise the adapter whenever it is found (at start and after every replug) with the "
                "window's settings, as the Initialize button does.");
    cli.AddQtWindowOptions();
    cli.SetFooter(
        "--bus mirrors the adapter onto a CAN bus: frames it receives go onto the bus,\n"
        "frames other nodes write there are sent by the adapter (slot 7). With\n"
        "--link=sim it is the emulated adapter's own bus instead. --traffic needs\n"
        "--link=sim; brisklet-adapter takes it for the serial link.\n"
        "\n"
        "Qt's own options (-platform NAME, -style NAME, ...) work as in any Qt program.\n"
        "\n"
        "The settings are kept in a file named Brisklet.INI (the README says where).\n");
    CommandLine::Outcome outcome = cli.Parse(arguments);
    if (!outcome.run) return outcome;
    if (parsed.link.kind != LinkKind::Sim && parsed.trafficGiven)
        return cli.Refuse("--traffic needs --link=sim (brisklet-adapter takes it for the serial link)");
    parsed.qtArguments = cli.QtArguments();
    parsed.platformGiven = cli.IsSet(QStringLiteral("platform"));
    parsed.initialize = cli.IsSet(QStringLiteral("initialize"));
    parsed.list = cli.IsSet(QStringLiteral("list"));
    options = std::move(parsed);
    return outcome;
}
