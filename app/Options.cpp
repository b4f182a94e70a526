#include "Options.h"

AppOptions ParseAppOptions(const std::vector<std::string> &args) {
    AppOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "-h" || a == "--help") {
            o.Help = true;
        } else if (a == "-v" || a == "--version") {
            o.Version = true;
        } else if (a.rfind("--link=", 0) == 0) {
            o.Link = a.substr(7);
        } else if (a.rfind("--bus=", 0) == 0) {
            o.Bus = a.substr(6);
        } else if (a.rfind("--traffic=", 0) == 0) {
            o.Traffic = a.substr(10);
        } else if (a == "--link") {
            if (i + 1 >= args.size()) {
                o.Error = "--link needs a value";
                return o;
            }
            o.Link = args[++i];
        } else if (a.rfind("-platform", 0) == 0 || a.rfind("--platform", 0) == 0) {
            ++i;  // Qt's own option and its value; Qt reads it
        } else {
            o.Error = "unknown option: " + a;
            return o;
        }
    }
    return o;
}

std::string HelpText() {
    return "Usage: brisklet [options]\n"
           "Watch and drive a CAN bus through a USB-to-CAN adapter.\n"
           "\n"
           "Options:\n"
           "  --link=KIND        how to reach the adapter:\n"
           "                       sim          the built-in emulated adapter (plugged in at start)\n"
           "                       d2xx[:PATH]  FTDI's D2XX library (libftd2xx.so, or the one at PATH)\n"
           "                       serial[:PATH][@BAUD]  an FTDI adapter on the ftdi_sio driver, or the\n"
           "                                    tty at PATH (a pseudo-terminal too); BAUD default 9600\n"
           "                     without it, FTDI's D2XX library is used where it is installed\n"
           "  --traffic=RATES    with --link=sim: what the emulated adapter hears on its bus, per second,\n"
           "                     e.g. frames=20,errors=1,stray=0.5,broken=0.5\n"
           "  --bus=PLUGIN:IF    with --link=sim: bridge the emulated adapter to a CAN bus through Qt\n"
           "                     SerialBus, e.g. virtualcan:can0 or socketcan:can0\n"
           "  -h, --help         show this text and exit\n"
           "  -v, --version      show the version and exit\n"
           "\n"
           "Settings are kept in Brisklet.INI beside the executable.\n";
}
