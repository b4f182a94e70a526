#include "PtyPort.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

PtyPort::~PtyPort() {
    if (master_ >= 0) ::close(master_);
}

bool PtyPort::Open(std::string &why) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        why = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        why = std::string("setting up the pseudo-terminal: ") + std::strerror(errno);
        ::close(master);
        return false;
    }
    // A fresh slave side echoes and edits lines. Its settings outlive its descriptors while the master
    // is open, so making it raw once here keeps our own reports from being echoed back at us in the
    // moment between Brisklet's open and its own switch to raw mode.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || ::tcgetattr(slave, &tio) != 0) {
        why = std::string("opening ") + name + ": " + std::strerror(errno);
        if (slave >= 0) ::close(slave);
        ::close(master);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(slave, TCSANOW, &tio);
    ::close(slave);
    master_ = master;
    slavePath_ = name;
    return true;
}

bool StableName::Point(const std::string &link, const std::string &target, std::string &why) {
    struct stat old {};
    if (::lstat(link.c_str(), &old) == 0 && !S_ISLNK(old.st_mode)) {
        why = link + " exists and is not a symbolic link; choose another --link-path";
        return false;
    }
    const std::string temporary = link + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        why = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        why = "cannot create " + link + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    link_ = link;
    target_ = target;
    return true;
}

void StableName::Remove() {
    if (link_.empty()) return;
    char now[256];
    const ssize_t n = ::readlink(link_.c_str(), now, sizeof now);
    if (n > 0 && std::string(now, static_cast<std::size_t>(n)) == target_) ::unlink(link_.c_str());
    link_.clear();
}
