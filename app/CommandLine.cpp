#include "CommandLine.h"

#include <cstdio>

#include "BriskletBuild.h"

namespace {

// Qt's own options that take a value (QGuiApplication, QApplication, the xcb platform) and those that
// take none. Qt reads them with one dash or two; so does this parser.
const char *const QtValueOptions[] = {"platform",
                                      "platformpluginpath",
                                      "platformtheme",
                                      "plugin",
                                      "qwindowgeometry",
                                      "geometry",
                                      "qwindowtitle",
                                      "title",
                                      "qwindowicon",
                                      "icon",
                                      "session",
                                      "style",
                                      "stylesheet",
                                      "display",
                                      "name",
                                      "visual",
                                      "qmljsdebugger"};
const char *const QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "cmap", "testability"};

std::string Line(const std::string &program, const std::string &text) { return program + ": " + text + "\n"; }

// QCommandLineParser quotes names without their dashes in a few messages; the operator typed them.
bool LooksLikeOption(const QString &value) { return value.size() > 1 && value.startsWith(QLatin1Char('-')); }

}  // namespace

CommandLine::CommandLine(std::string program, std::string summary)
    : program_(std::move(program)), summary_(std::move(summary)) {
    // -platform is one option, not -p -l -a ...: Qt's options are words after a single dash.
    parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser_.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser_.setApplicationDescription(QString::fromStdString(summary_));
    parser_.addOption(QCommandLineOption({"h", "help"}, "Show this help and exit."));
    parser_.addOption(QCommandLineOption({"v", "version"}, "Show the version and exit."));
}

void CommandLine::AddValue(const QStringList &names, const QString &valueName, const QString &help,
                           Check check) {
    parser_.addOption(QCommandLineOption(names, help, valueName));
    values_.push_back({names.constLast(), std::move(check)});
}

void CommandLine::AddFlag(const QStringList &names, const QString &help) {
    parser_.addOption(QCommandLineOption(names, help));
}

void CommandLine::AddQtWindowOptions() {
    for (const char *name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser_.addOption(option);
        qtValueOptions_ << QString::fromLatin1(name);
    }
    for (const char *name : QtFlags) {
        QCommandLineOption option(QString::fromLatin1(name), QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser_.addOption(option);
        qtFlags_ << QString::fromLatin1(name);
    }
}

void CommandLine::SetFooter(const std::string &footer) { footer_ = footer; }

CommandLine::Outcome CommandLine::Refuse(const std::string &why) const {
    Outcome o;
    o.exitCode = UsageError;
    o.error = Line(program_, why);
    return o;
}

CommandLine::Outcome CommandLine::Parse(const QStringList &arguments) {
    if (!parser_.parse(arguments))
        return Refuse(parser_.errorText().toStdString() + " (" + program_ + " --help lists the options)");
    const QStringList extra = parser_.positionalArguments();
    if (!extra.isEmpty()) return Refuse("unexpected argument '" + extra.constFirst().toStdString() + "'");

    // A value that is itself an option means the value was left out: "--platform --link=x".
    for (const QString &name : parser_.optionNames()) {
        for (const QString &value : parser_.values(name)) {
            if (LooksLikeOption(value))
                return Refuse("--" + name.toStdString() + " needs a value before the option '" +
                              value.toStdString() + "'");
        }
    }

    Outcome o;
    if (parser_.isSet(QStringLiteral("help"))) {
        o.out = HelpText();
        return o;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        o.out = VersionLine();
        return o;
    }
    // Every value of an option given more than once, in order (the last one stands, but for options that
    // gather them, such as --dbc).
    for (const ValueOption &option : values_) {
        for (const QString &text : parser_.values(option.name)) {
            const std::string value = text.toStdString();
            std::string why;
            if (!option.check(value, why))
                return Refuse("--" + option.name.toStdString() + "=" + value + ": " + why);
        }
    }
    o.run = true;
    return o;
}

bool CommandLine::IsSet(const QString &name) const { return parser_.isSet(name); }

std::vector<std::string> CommandLine::QtArguments() const {
    std::vector<std::string> args{program_};
    for (const QString &name : qtValueOptions_) {
        if (!parser_.isSet(name)) continue;
        const std::string value = parser_.value(name).toStdString();
        if (name == QLatin1String("qmljsdebugger")) {
            args.push_back("-qmljsdebugger=" + value);  // Qt reads this one only in the = form
        } else {
            args.push_back("-" + name.toStdString());
            args.push_back(value);
        }
    }
    for (const QString &name : qtFlags_)
        if (parser_.isSet(name)) args.push_back("-" + name.toStdString());
    return args;
}

std::string CommandLine::HelpText() const {
    // The parser names the program after the application object, which does not exist yet (or is a test's).
    const QString text = parser_.helpText();
    std::string help =
        "Usage: " + program_ + " [options]" + text.mid(text.indexOf(QLatin1Char('\n'))).toStdString();
    if (!footer_.empty()) help += "\n" + footer_;
    return help;
}

std::string CommandLine::VersionLine() const { return program_ + " " BRISKLET_VERSION "\n"; }

bool Proceed(const CommandLine::Outcome &outcome, int &exitCode) {
    if (outcome.run) return true;
    std::fputs(outcome.out.c_str(), stdout);
    std::fputs(outcome.error.c_str(), stderr);
    exitCode = outcome.exitCode;
    return false;
}
