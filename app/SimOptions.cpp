#include <QString>

#include "CanBusPort.h"
#include "CommonOptions.h"
#include "EmulatedFirmware.h"

void AddBusOption(CommandLine &cli, BusChoice &choice, bool &given) {
    cli.AddValue({"bus"}, "PLUGIN:IF",
                 "Put the adapter on a CAN bus through Qt SerialBus, e.g. socketcan:vcan0 or "
                 "virtualcan:can0 (channels can0 and can1, open to every local user): a real adapter is "
                 "mirrored onto it both ways; the emulated one uses it as its own bus.",
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
