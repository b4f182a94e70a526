// Which tty the serial link opens, and at what rate: the command line's "serial:PATH@BAUD" and the search
// for an FTDI adapter bound to the kernel's ftdi_sio driver.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <string_view>

// The chip's own power-on rate. Brisklet's D2XX path never sets a baud rate, so an adapter built on a UART
// chip talks at this rate with the vendor's library; an adapter built on a FIFO chip ignores the setting.
constexpr uint32_t DefaultSerialBaud = 9600;

struct SerialSettings {
    std::string path;  // the node to open; empty: the first FTDI adapter found in sysfs
    uint32_t baud = DefaultSerialBaud;
    std::string sysfsRoot = "/sys";  // where discovery looks (tests point it at a fake tree)
    std::string devRoot = "/dev";    // where discovered nodes live
    std::string procRoot = "/proc";  // where the terminal drivers and the processes' terminals are read
};

// Parses what follows "serial:" on the command line: "PATH", "PATH@BAUD", "@BAUD" or "" (discover, at
// the default rate). Only a suffix of digits after the last '@' is a rate, so paths holding '@' still work.
// Example: ParseSerialTarget("/dev/ttyUSB1@115200", s, why) -> s.path == "/dev/ttyUSB1", s.baud == 115200.
// False with a reason when the rate is not one the tty layer offers (it leaves `settings` untouched).
bool ParseSerialTarget(std::string_view text, SerialSettings &settings, std::string &why);

// The node of the first tty (lowest number) under <sysfsRoot>/class/tty/ttyUSB* whose USB device has
// vendor id 0403 and which is bound to ftdi_sio, as <devRoot>/ttyUSBn; empty when there is none.
// Example: class/tty/ttyUSB3/device/../../idVendor reads "0403" -> "/dev/ttyUSB3".
std::string FindFtdiTty(const std::string &sysfsRoot, const std::string &devRoot);

// The termios code of a baud rate the tty layer offers; false for any other rate.
bool BaudCode(uint32_t rate, speed_t &code);
