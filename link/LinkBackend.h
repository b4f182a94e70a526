// Choosing what fills the D2XX table (FtApi): the built-in emulator, the vendor's library loaded at run
// time, or a serial port (a tty of the kernel's ftdi_sio driver, or any tty such as a pseudo-terminal).
//
// The value of the command line's --link= option:
//   "" or "auto"   the vendor's library where it loads ("libftd2xx.so", or `path` when set), otherwise
//                  the serial link on the first FTDI ttyUSB (never the emulator)
//   "sim"          the emulated adapter, plugged in from the start
//   "d2xx"         the vendor's library, found by the system's loader as "libftd2xx.so"
//   "d2xx:PATH"    the vendor's library at PATH
//   "serial"       the first ttyUSB of the ftdi_sio driver with USB vendor id 0403
//   "serial:PATH"  the serial port at PATH
//   "serial:PATH@BAUD", "serial:@BAUD"  the same at BAUD (default 9600, the chip's power-on rate)
// Example: ParseLinkOption("d2xx:/opt/ftdi/libftd2xx.so", c, why) -> c.kind == LinkKind::D2xx,
//          c.path == "/opt/ftdi/libftd2xx.so".
#pragma once

#include <string>
#include <string_view>

#include "BackendSerial.h"
#include "D2xxTypes.h"

enum class LinkKind { Auto, Sim, D2xx, Serial };

struct LinkChoice {
    LinkKind kind = LinkKind::Auto;
    std::string path;  // d2xx: the library; serial: the device node and @BAUD; empty: the default
};

constexpr const char *DefaultD2xxLibrary = "libftd2xx.so";

// Parses the option's value (what follows "--link="). On an unknown value returns false and leaves a
// one-line reason in `why`; `choice` is then untouched.
bool ParseLinkOption(std::string_view value, LinkChoice &choice, std::string &why);

// Fills FtApi for `choice` (InstallD2xxApi). Call once, before any link call and before the receive
// thread starts. On failure returns false with a one-line reason for the operator, and FtApi is left
// as it was.
bool InstallLinkBackend(const LinkChoice &choice, std::string &why);

// The built-in emulator lives outside the link. A program that offers --link=sim hands its table over here
// before InstallLinkBackend, with what to do once it is installed (plug the emulated adapter in); without
// it, --link=sim fails to install and says so.
void ProvideEmulatorBackend(const D2xxApi &api, void (*afterInstall)());

// Why the installed backend's last attempt to open the adapter failed, in the operator's words; empty text
// when it succeeded or the backend keeps no reason (the emulator, the vendor's library).
OpenProblem LinkOpenProblem();

// Loads the vendor's library (`path`, or DefaultD2xxLibrary when empty) with dlopen and looks up the ten
// functions. The library then stays loaded for the rest of the process. On failure returns false with a
// reason naming the library and the loader's message or the missing function, and `api` is untouched.
bool LoadD2xxLibrary(const std::string &path, D2xxApi &api, std::string &why);
