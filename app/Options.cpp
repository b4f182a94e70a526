#include "Options.h"

#include "CommonOptions.h"

CommandLine::Outcome ParseAppOptions(const QStringList &arguments, AppOptions &options) {
    AppOptions parsed;
    CommandLine cli("brisklet", "Watch and drive a CAN bus through a USB-to-CAN adapter.");
    AddLinkOption(cli, parsed.link);
    AddTrafficOption(cli, parsed.traffic, parsed.trafficGiven);
    AddBusOption(cli, parsed.bus, parsed.busGiven);
    cli.AddQtWindowOptions();
    cli.SetFooter(
        "--traffic and --bus need --link=sim; brisklet-adapter takes them for\n"
        "the serial link. Qt's own options (-platform NAME, -style NAME, ...)\n"
        "work as in any Qt program.\n"
        "\n"
        "The settings are kept in a file named Brisklet.INI (the README says where).\n");
    CommandLine::Outcome outcome = cli.Parse(arguments);
    if (!outcome.run) return outcome;
    if (parsed.link.kind != LinkKind::Sim && (parsed.busGiven || parsed.trafficGiven))
        return cli.Refuse(std::string(parsed.busGiven ? "--bus" : "--traffic") +
                          " needs --link=sim (brisklet-adapter takes it for the serial link)");
    parsed.qtArguments = cli.QtArguments();
    parsed.platformGiven = cli.IsSet(QStringLiteral("platform"));
    options = std::move(parsed);
    return outcome;
}
