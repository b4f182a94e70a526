#include "AdapterOptions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::string DefaultAdapterLinkPath() {
    const uid_t me = ::geteuid();
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat folder {};
    if (runtime != nullptr && runtime[0] == '/' && ::stat(runtime, &folder) == 0 && S_ISDIR(folder.st_mode) &&
        folder.st_uid == me && (folder.st_mode & 077) == 0)
        return std::string(runtime) + "/brisklet-adapter";
    return "/tmp/brisklet-adapter-" + std::to_string(me);
}

#include "CommonOptions.h"

CommandLine::Outcome ParseAdapterOptions(const QStringList &arguments, AdapterOptions &options) {
    AdapterOptions parsed;
    // The help states the rule, not this user's path: it is also the manual page, made on another machine.
    CommandLine cli(
        "brisklet-adapter",
        "Plays the USB-to-CAN adapter on a pseudo-terminal, for Brisklet's serial link. At start\n"
        "it prints the stable name it keeps pointing at the terminal (see --link-path), where\n"
        "brisklet --link=serial:NAME reaches it. Stopping it (Ctrl+C, SIGTERM) unplugs the\n"
        "adapter; starting it again plugs it back in.");
    cli.AddValue({"link-path"}, "PATH",
                 QStringLiteral("The stable name kept pointing at the pseudo-terminal (default "
                                "$XDG_RUNTIME_DIR/brisklet-adapter where that folder is this user's and "
                                "private to them, otherwise /tmp/brisklet-adapter-UID)."),
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
