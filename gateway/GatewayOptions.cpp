#include "GatewayOptions.h"

#include <tuple>

#include "CommonOptions.h"
#include "Settings.h"
#include "unitMy.h"

namespace {

constexpr uint32_t MaxStandardId = 0x7FF;
constexpr uint32_t MaxExtendedId = 0x1FFFFFFF;

std::string RateList() {
    std::string list;
    for (const BitTimingRow &row : BitTimingTable) {
        if (!list.empty()) list += ", ";
        list += std::to_string(row.kbps);
    }
    return list;
}

std::string Named(const QString &option, const QString &value) {
    return ("--" + option + "=" + value).toStdString();
}

// The CAN values of a settings file, as the window would take them into its controls. Read as the window
// reads it: a FIFO or a device is refused before it is opened, so it cannot hold the program.
bool ApplySettingsFile(const QString &path, CanSetup &can, std::string &error) {
    std::string text, why;
    if (!ReadSettingsText(path.toLocal8Bit().toStdString(), text, why)) {
        error = Named("settings", path) + ": " + why;
        return false;
    }
    const BriskletSettings s = ParseSettingsText(text, "");
    can.bitRateRow = s.Speed;
    can.listening = s.Listening;
    can.standard = s.Std11;
    can.tag = HexToInt(s.Tag);
    can.mask = HexToInt(s.Mask);
    return true;
}

}  // namespace

bool ParseHexOption(const QString &text, uint32_t &value) {
    QString digits = text;
    if (digits.startsWith("0x", Qt::CaseInsensitive)) digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 8) return false;
    for (const QChar c : digits)
        if (c.unicode() > 0x7F || !IsHexDigit(static_cast<char>(c.unicode()))) return false;
    value = HexToInt(digits.toStdString());
    return true;
}

CommandLine::Outcome ParseGatewayOptions(const QStringList &arguments, GatewayOptions &options) {
    GatewayOptions o;
    QString settingsPath, bitrate, tag, mask, replay;
    CommandLine cli("brisklet-gateway",
                    "Runs Brisklet without a display: initialises the adapter each time it is found,\n"
                    "writes every received CAN frame and bus error report to a trace in the candump\n"
                    "log format, says what happens on standard error, and disables the adapter on\n"
                    "SIGINT, SIGTERM or SIGHUP.");
    AddLinkOption(cli, o.link);
    auto keep = [](QString &into) {
        return [&into](const std::string &value, std::string &) {
            into = QString::fromStdString(value);
            return true;
        };
    };
    cli.AddValue({"settings"}, "FILE",
                 "Read the CAN settings from FILE (the window's Brisklet.INI); the options below replace what "
                 "it says.",
                 keep(settingsPath));
    cli.AddValue({"bitrate"}, "KBPS", QString::fromStdString("Bit rate in kbit/s: " + RateList() + " (default 250)."),
                 keep(bitrate));
    cli.AddFlag({"listen"}, "Listen only: the adapter never sends on the bus, not even acknowledgements.");
    cli.AddFlag({"low-speed"}, "Use the low-speed (fault-tolerant) transceiver.");
    cli.AddValue({"tag"}, "HEX", "Acceptance tag, hexadecimal (default 0).", keep(tag));
    cli.AddValue({"mask"}, "HEX", "Acceptance mask, hexadecimal: a 1 bit must match the tag (default 0: none must).",
                 keep(mask));
    cli.AddFlag({"29bit"}, "29-bit identifiers for tag and mask (default 11-bit).");
    AddLogOptions(cli, o.logPath, o.logName, "standard output");
    AddTrafficOption(cli, o.rates, o.traffic);
    AddBusOption(cli, o.bus, o.busGiven);
    cli.AddFlag({"verbose"}, "Also show Qt's own debug and info lines (its CAN plugins' connection details).");
    AddDbcOption(cli, o.dbcFiles);
    cli.AddFlag({"decode"},
                "Write the signal values the --dbc files decode, one CSV line each (time,identifier,message,"
                "signal,value,unit,label), instead of candump lines.");
    cli.AddValue({"replay"}, "FILE",
                 "Decode the candump log FILE (- for standard input) as --decode does, then end; no adapter.",
                 keep(replay));
    cli.AddFlag({"stats"}, "Say the bus load, frames and errors per second and what was dropped on standard "
                           "error once a second.");
    cli.AddFlag({"list"}, "Show the receive list (one row per identifier) on standard output, redrawn in place "
                          "on a terminal; the trace then goes only where --log says.");

    CommandLine::Outcome outcome = cli.Parse(arguments);
    if (!outcome.run) return outcome;

    std::string why;
    if (!settingsPath.isEmpty() && !ApplySettingsFile(settingsPath, o.can, why)) return cli.Refuse(why);
    if (cli.IsSet(QStringLiteral("bitrate"))) {
        bool number = false;
        const int row = BitRateRowFor(bitrate.toInt(&number));
        if (!number || row < 0)
            return cli.Refuse(Named("bitrate", bitrate) + ": not a rate of the list (" + RateList() + " kbit/s)");
        o.can.bitRateRow = row;
    }
    if (cli.IsSet(QStringLiteral("listen"))) o.can.listening = true;
    if (cli.IsSet(QStringLiteral("low-speed"))) o.can.lowSpeed = true;
    if (cli.IsSet(QStringLiteral("29bit"))) o.can.standard = false;

    // Tag and mask are checked against the identifier form in force, whichever place set it.
    const uint32_t maxId = o.can.standard ? MaxStandardId : MaxExtendedId;
    const char *form = o.can.standard ? "an 11-bit identifier (0..7FF)" : "a 29-bit identifier (0..1FFFFFFF)";
    for (auto [name, text, target] : {std::tuple{"tag", &tag, &o.can.tag}, std::tuple{"mask", &mask, &o.can.mask}}) {
        if (!cli.IsSet(QString::fromLatin1(name))) continue;
        uint32_t value = 0;
        if (!ParseHexOption(*text, value) || value > maxId)
            return cli.Refuse(Named(name, *text) + ": not " + form + " in hexadecimal");
        *target = value;
    }
    if (o.busGiven && o.link.kind == LinkKind::Sim)
        return cli.Refuse("--bus mirrors a real adapter: not with --link=sim");
    if (o.traffic && o.link.kind != LinkKind::Sim) return cli.Refuse("--traffic needs --link=sim");
    o.verbose = cli.IsSet(QStringLiteral("verbose"));
    o.decode = cli.IsSet(QStringLiteral("decode"));
    o.replay = replay.toStdString();
    o.stats = cli.IsSet(QStringLiteral("stats"));
    o.list = cli.IsSet(QStringLiteral("list"));
    o.logGiven = cli.IsSet(QStringLiteral("log"));
    if ((o.decode || !o.replay.empty()) && o.dbcFiles.empty())
        return cli.Refuse(std::string(o.decode ? "--decode" : "--replay") + " needs --dbc=FILE to decode by");
    if (cli.IsSet(QStringLiteral("replay")) && o.replay.empty()) return cli.Refuse("--replay=: needs a file name");
    if (!o.replay.empty()) {
        for (const char *name : {"link", "bus", "traffic", "list", "stats", "settings"})
            if (cli.IsSet(QString::fromLatin1(name)))
                return cli.Refuse("--replay reads a log, not an adapter: not with --" + std::string(name));
        o.decode = true;
    }
    if (o.list && o.logGiven && o.logPath == "-")
        return cli.Refuse("--list draws on standard output: give the log a file (--log=FILE)");
    if (o.list && o.decode && !o.logGiven)
        return cli.Refuse("--decode writes the log, and --list takes standard output: give it a file (--log=FILE)");
    options = std::move(o);
    return outcome;
}
