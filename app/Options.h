// Command-line options. Parsed before any window exists, so --help works without a display.
#pragma once

#include <string>
#include <vector>

struct AppOptions {
    std::string Link;     // value of --link, empty for "look for a real adapter"
    std::string Bus;      // value of --bus: a CAN bus the emulated adapter is bridged to
    std::string Traffic;  // value of --traffic: what the emulated adapter receives from its bus
    bool Help = false;
    bool Version = false;
    std::string Error;  // set when the command line cannot be used
};

AppOptions ParseAppOptions(const std::vector<std::string> &args);  // args without the program name
std::string HelpText();
