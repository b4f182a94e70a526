// A tty the serial link holds, and how it is let go: the settings it had before we changed them go back,
// exclusive use (TIOCEXCL) is given up (on a pseudo-terminal it outlives the descriptor and would refuse
// the next open), and the descriptor is closed. Every way out of an open that failed halfway, and the close
// of an open one, lets go through Release (or the destructor), so none of them forgets a step.
#pragma once

#include <termios.h>

class HeldTerminal {
public:
    HeldTerminal() = default;
    explicit HeldTerminal(int fd) : fd_(fd) {}
    ~HeldTerminal() { Release(); }
    HeldTerminal(HeldTerminal &&other) noexcept { *this = static_cast<HeldTerminal &&>(other); }
    HeldTerminal &operator=(HeldTerminal &&other) noexcept;
    HeldTerminal(const HeldTerminal &) = delete;
    HeldTerminal &operator=(const HeldTerminal &) = delete;

    int Fd() const { return fd_; }
    // Takes exclusive use; false (errno set) when the tty refuses.
    bool MakeExclusive();
    // Keeps the settings as they stand, to be given back; false (errno set) when they cannot be read.
    bool KeepSettings(termios &now);

    // Settings back (a hung-up tty refuses, which does no harm), exclusivity back, descriptor closed.
    void Release();

private:
    int fd_ = -1;
    bool exclusive_ = false;
    bool kept_ = false;
    termios saved_{};
};
