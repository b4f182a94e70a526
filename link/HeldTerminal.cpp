#include "HeldTerminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

HeldTerminal &HeldTerminal::operator=(HeldTerminal &&other) noexcept {
    if (this == &other) return *this;
    Release();
    fd_ = other.fd_;
    exclusive_ = other.exclusive_;
    kept_ = other.kept_;
    saved_ = other.saved_;
    other.fd_ = -1;
    other.exclusive_ = other.kept_ = false;
    return *this;
}

bool HeldTerminal::MakeExclusive() {
    exclusive_ = ::ioctl(fd_, TIOCEXCL) == 0;
    return exclusive_;
}

bool HeldTerminal::KeepSettings(termios &now) {
    kept_ = ::tcgetattr(fd_, &saved_) == 0;
    now = saved_;
    return kept_;
}

void HeldTerminal::Release() {
    if (fd_ < 0) return;
    if (kept_) ::tcsetattr(fd_, TCSANOW, &saved_);
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    exclusive_ = kept_ = false;
}
