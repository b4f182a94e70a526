// The checks the serial link makes before it opens a node, and why it refuses one: only a serial terminal
// or pseudo-terminal that is this user's or the system's, that is no program's controlling terminal, and
// that no stale emulator link names.
#pragma once

#include <sys/types.h>

#include <string>

// Why an open failed, in the operator's words. `absent`: there was nothing to open (no adapter found,
// no node), as opposed to a node that is there but cannot or must not be opened.
struct OpenProblem {
    bool absent = false;
    std::string text;  // empty: the last open succeeded, or none was tried
    // Waiting will not help: the path names something that is not a serial terminal, another user's
    // terminal, a running program's terminal, or one another program holds. A program without an operator
    // (the gateway) gives up on it; absent or unreadable nodes may still turn into the adapter.
    bool lasting = false;
    bool operator==(const OpenProblem &) const = default;
};

// The udev rule shipped in packaging/udev/, named where access to the adapter is missing.
constexpr const char *UdevRuleName = "70-brisklet-ftdi.rules";

// The name of the lock file the emulator (brisklet-adapter) holds while it keeps `linkPath` pointing at
// its terminal: linkPath + ".lock".
std::string AdapterLockPath(const std::string &linkPath);

// True when `path` is a symbolic link kept by an emulated adapter that is no longer running: its lock
// file is there and no one holds a write lock on it (fcntl F_OFD_SETLK over the whole file). A link
// without a lock file is not the emulator's and not stale.
bool AdapterLinkIsStale(const std::string &path);

// Whether the device numbers belong to a serial or pseudo-terminal (slave) driver, as listed in
// <procRoot>/tty/drivers; where that cannot be read, by the usual device numbers.
bool IsTerminalDevice(dev_t device, const std::string &procRoot);

// The id of a process whose controlling terminal is `device`, from <procRoot>/<pid>/stat; 0 when none.
pid_t ControllingProcess(dev_t device, const std::string &procRoot);
