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

bool StableName::Lock(const std::string &lockPath, std::string &why) {
    // The lock file may be replaced by its last holder between our open and our lock: retry until the
    // file we hold is the one under the name.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            why = "cannot create " + lockPath + ": " + std::strerror(errno);
            return false;
        }
        struct stat held {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid()) {
            why = lockPath + " is not a file of this user's; choose another --link-path";
            ::close(fd);
            return false;
        }
        // A write lock on the whole file, held by this open file description: it goes with the process
        // however it ends, and Brisklet can ask about it without taking it.
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &whole) != 0) {
            char pid[32] = {};
            [[maybe_unused]] const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
            ::close(fd);
            std::string holder(pid);
            while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
            why = "another brisklet-adapter" +
                  (holder.empty() ? std::string() : " (process " + holder + ")") +
                  " is running under this name; choose another --link-path";
            return false;
        }
        struct stat named {};
        if (::stat(lockPath.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
            named.st_dev == held.st_dev) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
                // The pid only makes the message of a refused second adapter clearer.
            }
            lockFd_ = fd;
            lockPath_ = lockPath;
            return true;
        }
        ::close(fd);
    }
    why = "cannot lock " + lockPath;
    return false;
}

bool StableName::Point(const std::string &link, const std::string &target, std::string &why) {
    if (lockFd_ < 0 && !Lock(link + ".lock", why)) return false;
    struct stat old {};
    if (::lstat(link.c_str(), &old) == 0) {
        if (!S_ISLNK(old.st_mode)) {
            why = link + " exists and is not a symbolic link; choose another --link-path";
            Remove();
            return false;
        }
        if (old.st_uid != ::geteuid()) {
            why = link + " belongs to another user; choose another --link-path";
            Remove();
            return false;
        }
    }
    const std::string temporary = link + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        why = "cannot create " + temporary + ": " + std::strerror(errno);
        Remove();
        return false;
    }
    if (::rename(temporary.c_str(), link.c_str()) != 0) {
        why = "cannot create " + link + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        Remove();
        return false;
    }
    link_ = link;
    target_ = target;
    return true;
}

void StableName::Remove() {
    if (!link_.empty()) {
        char now[256];
        const ssize_t n = ::readlink(link_.c_str(), now, sizeof now);
        if (n > 0 && std::string(now, static_cast<std::size_t>(n)) == target_) ::unlink(link_.c_str());
        link_.clear();
    }
    // The name goes before the lock: a window that finds the link finds it locked.
    if (lockFd_ >= 0) {
        ::unlink(lockPath_.c_str());
        ::close(lockFd_);
        lockFd_ = -1;
        lockPath_.clear();
    }
}
