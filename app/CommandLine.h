// The command line of every Brisklet program, on QCommandLineParser.
//
// What every program shares:
//  - an option with a value is given as --name=VALUE or --name VALUE alike;
//  - -h/--help and -v/--version print to stdout and end with 0, before anything is opened, so they need
//    neither a display nor an adapter (help2man builds the manual pages from them);
//  - a command line that cannot be used ends with 2 and one line on stderr naming the bad argument or
//    value, for example
//        brisklet: --link=serial:/dev/ttyUSB0@12345: serial: 12345 is not a baud rate the tty offers ...
//    never the whole help text, and always before a window opens;
//  - a value that looks like an option (--link --bus=x) is refused rather than taken as the value, so no
//    option ever swallows the next one.
// A program with a window calls AddQtWindowOptions: Qt's own options (-platform NAME, -style NAME,
// -reverse, ..., with one dash or two) are then accepted, and QtArguments() hands exactly those to
// QApplication, which therefore never sees an option of ours.
//
// Each value option carries a check that turns the text into the program's own value and explains a
// refusal in `why` (ParseLinkOption and friends fit as they are); checks run in the order the options
// were added, once the whole line has parsed.
//
// Example:
//   CommandLine cli("brisklet", "Watch and drive a CAN bus.");
//   cli.AddValue({"link"}, "KIND", "how to reach the adapter", [&](const std::string &v, std::string &why) {
//       return ParseLinkOption(v, choice, why);
//   });
//   const CommandLine::Outcome o = cli.Parse({"brisklet", "--link", "sim"});   // o.run == true
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class CommandLine {
public:
    using Check = std::function<bool(const std::string &value, std::string &why)>;

    struct Outcome {
        bool run = false;   // the command line is good and asks for neither help nor the version
        int exitCode = 0;   // when !run: 0 after help or version, UsageError after a bad command line
        std::string out;    // for stdout: the help text or the version line
        std::string error;  // for stderr: one line naming what is wrong, ending in a line feed
    };

    static constexpr int UsageError = 2;

    // `program` names the program in the usage line, the version line and every error line.
    CommandLine(std::string program, std::string summary);

    // `help` may hold line feeds; the lines after the first are indented under it.
    void AddValue(const QStringList &names, const QString &valueName, const QString &help, Check check);
    void AddFlag(const QStringList &names, const QString &help);
    void AddQtWindowOptions();
    void SetFooter(const std::string &footer);  // text after the option list

    // `arguments` as QCoreApplication would give them: the program first. Parse once.
    Outcome Parse(const QStringList &arguments);
    // For a refusal the program finds after parsing (two options that do not go together).
    Outcome Refuse(const std::string &why) const;

    bool IsSet(const QString &name) const;
    // The program followed by Qt's options as they were given, each as "-name" "value".
    std::vector<std::string> QtArguments() const;
    std::string HelpText() const;
    std::string VersionLine() const;

private:
    struct ValueOption {
        QString name;
        Check check;
    };

    QCommandLineParser parser_;
    std::string program_;
    std::string summary_;
    std::string footer_;
    std::vector<ValueOption> values_;
    QStringList qtValueOptions_;
    QStringList qtFlags_;
};

// Runs `outcome` for main(): prints its text and tells whether to go on; otherwise `exitCode` is set.
bool Proceed(const CommandLine::Outcome &outcome, int &exitCode);
