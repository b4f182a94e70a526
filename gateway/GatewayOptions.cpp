#include "GatewayOptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <optional>

#include "BriskletVersion.h"
#include "Settings.h"
#include "unitMy.h"

namespace {

// A settings file is a few hundred bytes; anything this large is not one.
constexpr qint64 MaxSettingsFileSize = 1 << 20;

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

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption link{"link",
                            "How the adapter is reached: sim, d2xx[:LIBRARY], serial[:PATH][@BAUD]. "
                            "Default: FTDI's D2XX library where it is installed, else the serial link.",
                            "KIND"};
    QCommandLineOption settings{"settings",
                                "Read the CAN settings from FILE (the window's Brisklet.INI); "
                                "options below replace what it says.",
                                "FILE"};
    QCommandLineOption bitrate{
        "bitrate", QString::fromStdString("Bit rate in kbit/s: " + RateList() + " (default 250)."), "KBPS"};
    QCommandLineOption listen{"listen", "Listen only: the adapter never sends on the bus."};
    QCommandLineOption lowSpeed{"low-speed", "Use the low-speed (fault-tolerant) transceiver."};
    QCommandLineOption tag{"tag", "Acceptance tag, hexadecimal (default 0).", "HEX"};
    QCommandLineOption mask{
        "mask", "Acceptance mask, hexadecimal; a 1 bit must match the tag (default 0: none must).", "HEX"};
    QCommandLineOption extended{"29bit", "29-bit identifiers for tag and mask (default 11-bit)."};
    QCommandLineOption log{
        "log", "Append the trace to FILE instead of standard output (- is standard output).", "FILE"};
    QCommandLineOption logName{"log-name", "Interface name in the trace lines (default brisklet0).", "NAME"};
    QCommandLineOption traffic{"traffic",
                               "With --link=sim: what the emulated adapter hears on its bus per second, "
                               "e.g. frames=20,errors=1.",
                               "RATES"};
    QCommandLineOption bus{"bus",
                           "Mirror the adapter onto a Qt SerialBus bus (socketcan:vcan0, virtualcan:can0): "
                           "frames it receives go onto the bus, frames other nodes write are sent by the "
                           "adapter on slot 7. Not with --link=sim. virtualcan is a server on localhost that "
                           "any local user can join, send on and crash; socketcan on a vcan or real "
                           "interface is the safe choice.",
                           "PLUGIN:INTERFACE"};
    QCommandLineOption verbose{"verbose", "Also show Qt's own debug and info lines (its CAN plugins')."};
    QCommandLineOption help{{"h", "help"}, "Show this text and exit."};
    QCommandLineOption version{{"v", "version"}, "Show the version and exit."};

    Parser() {
        parser.setApplicationDescription(
            "Runs Brisklet without a display: initialises the adapter each time it is found, writes every\n"
            "received CAN frame and bus error to a trace in the candump log format, reports what happens\n"
            "on standard error, and disables the adapter on SIGINT, SIGTERM or SIGHUP.");
        parser.addOptions({link, settings, bitrate, listen, lowSpeed, tag, mask, extended, log, logName,
                           traffic, bus, verbose, help, version});
    }
};

// The CAN values of a settings file, as the window would take them into its controls.
bool ApplySettingsFile(const QString &path, CanSetup &can, std::string &error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = Named("settings", path) + ": " + file.errorString().toStdString();
        return false;
    }
    const QByteArray text = file.read(MaxSettingsFileSize + 1);
    if (text.size() > MaxSettingsFileSize) {
        error = Named("settings", path) + ": larger than 1 MiB, not a settings file";
        return false;
    }
    const BriskletSettings s =
        ParseSettingsText(std::string_view(text.constData(), std::size_t(text.size())), "");
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

GatewayCommandLine ParseGatewayCommandLine(const QStringList &arguments) {
    using Outcome = GatewayCommandLine::Outcome;
    GatewayCommandLine result;
    auto fail = [&result](std::string line) {
        result.outcome = Outcome::Error;
        result.text = std::move(line);
        return result;
    };

    Parser p;
    if (!p.parser.parse(arguments)) return fail(p.parser.errorText().toStdString());
    if (p.parser.isSet(p.help)) {
        result.outcome = Outcome::Help;
        result.text = p.parser.helpText().toStdString();
        return result;
    }
    if (p.parser.isSet(p.version)) {
        result.outcome = Outcome::Version;
        result.text = "brisklet-gateway " BRISKLET_VERSION "\n";
        return result;
    }
    if (!p.parser.positionalArguments().isEmpty())
        return fail("unexpected argument: " + p.parser.positionalArguments().first().toStdString());

    GatewayOptions &o = result.options;
    std::string why;
    if (p.parser.isSet(p.link) && !ParseLinkOption(p.parser.value(p.link).toStdString(), o.link, why))
        return fail(why);

    if (p.parser.isSet(p.settings) && !ApplySettingsFile(p.parser.value(p.settings), o.can, why))
        return fail(why);

    if (p.parser.isSet(p.bitrate)) {
        const QString text = p.parser.value(p.bitrate);
        bool number = false;
        const int row = BitRateRowFor(text.toInt(&number));
        if (!number || row < 0)
            return fail(Named("bitrate", text) + ": not a rate of the list (" + RateList() + " kbit/s)");
        o.can.bitRateRow = row;
    }
    if (p.parser.isSet(p.listen)) o.can.listening = true;
    if (p.parser.isSet(p.lowSpeed)) o.can.lowSpeed = true;
    if (p.parser.isSet(p.extended)) o.can.standard = false;

    // Tag and mask are checked against the identifier form in force, whichever place set it.
    const uint32_t maxId = o.can.standard ? MaxStandardId : MaxExtendedId;
    const char *form = o.can.standard ? "an 11-bit identifier (0..7FF)" : "a 29-bit identifier (0..1FFFFFFF)";
    for (auto [option, target] : {std::pair{&p.tag, &o.can.tag}, std::pair{&p.mask, &o.can.mask}}) {
        if (!p.parser.isSet(*option)) continue;
        const QString text = p.parser.value(*option);
        uint32_t value = 0;
        if (!ParseHexOption(text, value) || value > maxId)
            return fail(Named(option->names().first(), text) + ": not " + form + " in hexadecimal");
        *target = value;
    }

    if (p.parser.isSet(p.log)) {
        o.logPath = p.parser.value(p.log).toStdString();
        if (o.logPath.empty()) return fail("--log=: needs a file name, or - for standard output");
    }
    if (p.parser.isSet(p.logName)) {
        o.logName = p.parser.value(p.logName).toStdString();
        if (!candump::ValidInterfaceName(o.logName))
            return fail(Named("log-name", p.parser.value(p.logName)) + ": 1 to " +
                        std::to_string(candump::MaxInterfaceName) + " printable characters without blanks");
    }
    if (p.parser.isSet(p.bus)) {
        if (o.link.kind == LinkKind::Sim) return fail("--bus mirrors a real adapter: not with --link=sim");
        if (!ParseBusOption(p.parser.value(p.bus).toStdString(), o.bus, why))
            return fail(Named("bus", p.parser.value(p.bus)) + ": " + why);
        o.busGiven = true;
    }
    o.verbose = p.parser.isSet(p.verbose);
    if (p.parser.isSet(p.traffic)) {
        if (o.link.kind != LinkKind::Sim) return fail("--traffic needs --link=sim");
        if (!ParseTrafficRates(p.parser.value(p.traffic).toStdString(), o.rates, why))
            return fail("--" + why);
        o.traffic = true;
    }
    return result;
}
