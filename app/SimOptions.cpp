#include <QString>

#include "CanBusPort.h"
#include "CommonOptions.h"
#include "EmulatedFirmware.h"

void AddBusOption(CommandLine &cli, BusChoice &choice, bool &given) {
    cli.AddValue({"bus"}, "PLUGIN:IF",
                 "Bridge the emulated adapter to a CAN bus through Qt "
                 "SerialBus, e.g. virtualcan:can0 or socketcan:can0.",
                 [&choice, &given](const std::string &value, std::string &why) {
                     if (!ParseBusOption(value, choice, why)) return false;
                     given = true;
                     return true;
                 });
}

void AddTrafficOption(CommandLine &cli, TrafficRates &rates, bool &given) {
    cli.AddValue({"traffic"}, "RATES",
                 QStringLiteral("What the emulated adapter hears on its bus, per "
                                "second, e.g. frames=20,errors=1,stray=0.5,broken=0.5; "
                                "each rate 0 (none) or from %1 to %2.")
                     .arg(MinTrafficRate)
                     .arg(MaxTrafficRate, 0, 'f', 0),
                 [&rates, &given](const std::string &value, std::string &why) {
                     if (!ParseTrafficRates(value, rates, why)) return false;
                     given = true;
                     return true;
                 });
}
