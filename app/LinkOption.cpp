// Apart from the other shared options, so that a program without --link does not pull in the link.
#include "BackendSerial.h"
#include "CommonOptions.h"
#include "LinkBackend.h"

void AddLinkOption(CommandLine &cli, LinkChoice &choice) {
    cli.AddValue({"link"}, "KIND",
                 "How to reach the adapter:\n"
                 "sim           the built-in emulated adapter\n"
                 "d2xx[:PATH]   FTDI's D2XX library (libftd2xx.so,\n"
                 "               or the one at PATH)\n"
                 "serial[:PATH][@BAUD]\n"
                 "               the kernel's ftdi_sio driver: the first\n"
                 "               FTDI ttyUSB, or the tty at PATH (a\n"
                 "               pseudo-terminal too); BAUD 9600 unless\n"
                 "               given\n"
                 "Without it: FTDI's D2XX library where it is\n"
                 "installed, otherwise the serial link.",
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
