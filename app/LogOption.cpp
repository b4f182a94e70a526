#include <QString>

#include "CandumpLine.h"
#include "CommonOptions.h"

void AddLogOptions(CommandLine &cli, std::string &path, std::string &name, const char *without) {
    cli.AddValue({"log"}, "FILE",
                 QStringLiteral("Append every CAN frame and bus error report to FILE in the candump -l format "
                                "(- for standard output; without it: %1).")
                     .arg(QLatin1String(without)),
                 [&path](const std::string &value, std::string &why) {
                     if (value.empty()) {
                         why = "needs a file name (- for standard output)";
                         return false;
                     }
                     path = value;
                     return true;
                 });
    cli.AddValue({"log-name"}, "NAME",
                 QStringLiteral("The interface name in the log's lines (default %1).")
                     .arg(QLatin1String(candump::DefaultInterfaceName.data(),
                                        static_cast<qsizetype>(candump::DefaultInterfaceName.size()))),
                 [&name](const std::string &value, std::string &why) {
                     if (!candump::ValidInterfaceName(value)) {
                         why = "'" + value + "' is not an interface name (1 to " +
                               std::to_string(candump::MaxInterfaceName) + " printable characters, no blanks)";
                         return false;
                     }
                     name = value;
                     return true;
                 });
}

void AddDbcOption(CommandLine &cli, std::vector<std::string> &files) {
    cli.AddValue({"dbc"}, "FILE",
                 "A DBC file whose messages and signals the receive list shows; give it more than once for "
                 "several files (the first that defines an identifier wins).",
                 [&files](const std::string &value, std::string &why) {
                     if (value.empty()) {
                         why = "needs a file name";
                         return false;
                     }
                     files.push_back(value);
                     return true;
                 });
}
