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

namespace {

bool TakeValue(const std::string &arg, const char *name, std::string &value) {
    const std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

}  // namespace

AdapterOptions ParseAdapterOptions(const std::vector<std::string> &args) {
    AdapterOptions o;
    for (const std::string &a : args) {
        std::string value;
        if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "-v" || a == "--version") {
            o.version = true;
        } else if (TakeValue(a, "--link-path", value)) {
            if (value.empty()) {
                o.error = "--link-path needs a path";
                return o;
            }
            o.linkPath = value;
        } else if (TakeValue(a, "--traffic", value)) {
            std::string why;
            if (!ParseTrafficRates(value, o.rates, why)) {
                o.error = why;
                return o;
            }
            o.traffic = true;
        } else if (TakeValue(a, "--bus", value)) {
            if (value.empty()) {
                o.error = "--bus needs a value such as virtualcan:can0";
                return o;
            }
            o.bus = value;
        } else {
            o.error = "unknown option: " + a;
            return o;
        }
    }
    return o;
}

std::string AdapterHelpText() {
    return std::string(
               "Usage: brisklet-adapter [options]\n"
               "Plays the USB-to-CAN adapter on a pseudo-terminal, for Brisklet's serial link:\n"
               "  brisklet --link=serial:") +
           DefaultAdapterLinkPath() +
           "\n"
           "Stopping it (Ctrl+C, SIGTERM) unplugs the adapter; starting it again plugs it back in.\n"
           "\n"
           "Options:\n"
           "  --link-path=PATH   the stable name kept pointing at the pseudo-terminal\n"
           "                     (default " +
           DefaultAdapterLinkPath() +
           ")\n"
           "  --traffic=RATES    what the adapter hears on its bus, per second,\n"
           "                     e.g. frames=20,errors=1,stray=0.5,broken=0.5\n"
           "  --bus=KIND:CHANNEL bridge to a CAN bus through Qt SerialBus, e.g. virtualcan:can0\n"
           "                     or socketcan:can0\n"
           "  -h, --help         show this text and exit\n"
           "  -v, --version      show the version and exit\n";
}
