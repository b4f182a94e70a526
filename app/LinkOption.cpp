// Apart from the other shared options, so that a program without --link does not pull in the link.
#include "BackendSerial.h"
#include "CommonOptions.h"
#include "LinkBackend.h"

void AddLinkOption(CommandLine &cli, LinkChoice &choice) {
    cli.AddValue({"link"}, "KIND",
                 "How to reach the adapter: sim (the built-in emulated adapter), d2xx[:PATH] (FTDI's D2XX "
                 "library, libftd2xx.so or the one at PATH) or serial[:PATH][@BAUD] (the kernel's ftdi_sio "
                 "driver: the first FTDI ttyUSB, or the tty at PATH, a pseudo-terminal too; BAUD is 9600 "
                 "unless given). Without it: FTDI's D2XX library where it is installed, otherwise the "
                 "serial link.",
                 [&choice](const std::string &value, std::string &why) {
                     LinkChoice parsed;
                     if (!ParseLinkOption(value, parsed, why)) return false;
                     SerialSettings serial;
                     if (parsed.kind == LinkKind::Serial && !ParseSerialTarget(parsed.path, serial, why))
                         return false;
                     choice = parsed;
                     return true;
                 });
}
