#include "SerialSafety.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <vector>

// ---- What may be opened ----------------------------------------------------------------------------

std::string AdapterLockPath(const std::string &linkPath) { return linkPath + ".lock"; }

bool AdapterLinkIsStale(const std::string &path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return false;
    const std::string lockPath = AdapterLockPath(path);
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat lock {};
    // The running emulator holds a write lock on the whole file (an open file description lock, which
    // goes with the process however it ends). Asking about it takes no lock, so an emulator starting
    // at this moment never finds the file held by us.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool stale = ::fstat(fd, &lock) == 0 && S_ISREG(lock.st_mode) && lock.st_uid == link.st_uid &&
                       ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_UNLCK;
    ::close(fd);
    return stale;
}

bool IsTerminalDevice(dev_t device, const std::string &procRoot) {
    const unsigned major = ::major(device), minor = ::minor(device);
    const std::string path = procRoot + "/tty/drivers";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // The usual numbers: pseudo-terminal slaves, ttyUSB, ttyACM, ttyS.
        return (major >= 136 && major <= 143) || major == 188 || major == 166 || (major == 4 && minor >= 64);
    }
    char text[8192];
    std::size_t size = 0;
    for (ssize_t n; size < sizeof text - 1 && (n = ::read(fd, text + size, sizeof text - 1 - size)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    // Lines: name, node, major, minor or first-last, type. Only serial ports and pseudo-terminal slaves
    // count: never /dev/tty, the console, the virtual consoles or a pseudo-terminal's master side.
    const std::string_view all(text, size);
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string_view::npos) end = all.size();
        std::vector<std::string_view> fields;
        std::string_view line = all.substr(start, end - start);
        while (!line.empty()) {
            const auto first = line.find_first_not_of(' ');
            if (first == std::string_view::npos) break;
            line.remove_prefix(first);
            const auto space = line.find(' ');
            fields.push_back(line.substr(0, space));
            line.remove_prefix(space == std::string_view::npos ? line.size() : space);
        }
        start = end + 1;
        if (fields.size() < 5) continue;
        const std::string_view type = fields.back(), range = fields[fields.size() - 2];
        if (type != "serial" && type != "pty:slave") continue;
        unsigned driverMajor = 0, low = 0, high = 0;
        const std::string_view majorText = fields[fields.size() - 3];
        if (std::from_chars(majorText.data(), majorText.data() + majorText.size(), driverMajor).ec !=
            std::errc{})
            continue;
        const auto dash = range.find('-');
        const std::string_view lowText = range.substr(0, dash);
        if (std::from_chars(lowText.data(), lowText.data() + lowText.size(), low).ec != std::errc{}) continue;
        high = low;
        if (dash != std::string_view::npos) {
            const std::string_view highText = range.substr(dash + 1);
            if (std::from_chars(highText.data(), highText.data() + highText.size(), high).ec != std::errc{})
                continue;
        }
        if (major == driverMajor && minor >= low && minor <= high) return true;
    }
    return false;
}

pid_t ControllingProcess(dev_t device, const std::string &procRoot) {
    DIR *dir = ::opendir(procRoot.c_str());
    if (dir == nullptr) return 0;
    pid_t found = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        pid_t pid = 0;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec != std::errc{} || end != name.data() + name.size() || pid <= 0) continue;
        const std::string path = procRoot + "/" + std::string(name) + "/stat";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char text[1024];
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n <= 0) continue;
        // "pid (comm) state ppid pgrp session tty_nr ...": comm may hold blanks and brackets.
        const std::string_view stat(text, static_cast<std::size_t>(n));
        const auto bracket = stat.rfind(')');
        if (bracket == std::string_view::npos) continue;
        std::string_view rest = stat.substr(bracket + 1);
        long long tty = 0;
        bool ok = false;
        for (int field = 3; field <= 7; ++field) {
            const auto first = rest.find_first_not_of(' ');
            if (first == std::string_view::npos) break;
            rest.remove_prefix(first);
            const auto space = rest.find(' ');
            const std::string_view value = rest.substr(0, space);
            rest.remove_prefix(space == std::string_view::npos ? rest.size() : space);
            if (field == 7)
                ok = std::from_chars(value.data(), value.data() + value.size(), tty).ec == std::errc{};
        }
        if (!ok || tty <= 0) continue;
        // The kernel's encoding of a device number in this field.
        const auto number = static_cast<unsigned long long>(tty);
        const unsigned major = (number >> 8) & 0xFFF;
        const unsigned minor = (number & 0xFF) | ((number >> 12) & 0xFFF00);
        if (major == ::major(device) && minor == ::minor(device)) {
            found = pid;
            break;
        }
    }
    ::closedir(dir);
    return found;
}
