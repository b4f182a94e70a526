#include "AdapterOptions.h"

#include "CommonOptions.h"

CommandLine::Outcome ParseAdapterOptions(const QStringList &arguments, AdapterOptions &options) {
    AdapterOptions parsed;
    CommandLine cli(
        "brisklet-adapter",
        std::string("Plays the USB-to-CAN adapter on a pseudo-terminal, for Brisklet's serial link:\n"
                    "  brisklet --link=serial:") +
            DefaultAdapterLinkPath() +
            "\nStopping it (Ctrl+C, SIGTERM) unplugs the adapter; starting it again plugs it back in.");
    cli.AddValue({"link-path"}, "PATH",
                 QStringLiteral("The stable name kept pointing at the pseudo-terminal (default %1).")
                     .arg(QString::fromStdString(DefaultAdapterLinkPath())),
                 [&parsed](const std::string &value, std::string &why) {
                     if (value.empty()) {
                         why = "the path is empty";
                         return false;
                     }
                     parsed.linkPath = value;
                     return true;
                 });
    AddTrafficOption(cli, parsed.rates, parsed.traffic);
    AddBusOption(cli, parsed.bus, parsed.busGiven);
    CommandLine::Outcome outcome = cli.Parse(arguments);
    if (outcome.run) options = std::move(parsed);
    return outcome;
}
