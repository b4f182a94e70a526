// The serial backend: termios and poll() rather than QSerialPort, because the D2XX calls arrive on two
// threads at once on one handle and must honour their time-outs without an event loop; a QSerialPort
// belongs to one thread and waits only through that thread's events.
#include "BackendSerial.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>
#include <vector>

#include "D2xxDevice.h"
#include "LinkBackend.h"
#include "RxEvent.h"

namespace {

// Counted from here so that a stray small integer is never mistaken for a handle.
constexpr uintptr_t FirstHandle = 0x5E71A001u;
constexpr const char *FtdiVendorId = "0403";
constexpr const char *FtdiDriver = "ftdi_sio";

uintptr_t HandleValue(FT_HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};
constexpr BaudEntry BaudTable[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
    {38400, B38400},     {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

bool BaudCode(uint32_t rate, speed_t &code) {
    for (const BaudEntry &entry : BaudTable) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

// The calls that say the tty is gone for good, as opposed to "try again".
bool IsHangUpError(int error) { return error == EIO || error == ENODEV || error == ENXIO || error == EBADF; }

std::string ReadSmallFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char text[64];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    if (n <= 0) return {};
    std::string value(text, static_cast<std::size_t>(n));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

// The last path element a symlink points at ("../../bus/usb-serial/drivers/ftdi_sio" -> "ftdi_sio").
std::string LinkTargetName(const std::string &path) {
    char target[512];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string_view text(target, static_cast<std::size_t>(n));
    const auto slash = text.rfind('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

void CloseQuietly(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

// ---- Options and discovery ------------------------------------------------------------------------

bool ParseSerialTarget(std::string_view text, SerialSettings &settings, std::string &why) {
    std::string_view path = text;
    uint32_t baud = DefaultSerialBaud;
    const auto at = text.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view digits = text.substr(at + 1);
        const bool allDigits = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                              [](char c) { return c >= '0' && c <= '9'; });
        if (allDigits) {
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), baud);
            speed_t code;
            if (ec != std::errc{} || end != digits.data() + digits.size() || !BaudCode(baud, code)) {
                why = "serial: " + std::string(digits) +
                      " is not a baud rate the tty offers (e.g. 9600, 115200, 921600, 3000000)";
                return false;
            }
            path = text.substr(0, at);
        }
    }
    settings.path = std::string(path);
    settings.baud = baud;
    return true;
}

std::string FindFtdiTty(const std::string &sysfsRoot, const std::string &devRoot) {
    const std::string classDir = sysfsRoot + "/class/tty";
    DIR *dir = ::opendir(classDir.c_str());
    if (dir == nullptr) return {};
    std::vector<std::pair<unsigned long, std::string>> found;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        constexpr std::string_view prefix = "ttyUSB";
        if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size()) continue;
        unsigned long number = 0;
        const auto digits = name.substr(prefix.size());
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (ec != std::errc{} || end != digits.data() + digits.size()) continue;
        // device is the usb-serial port; its parent the USB interface; that one's parent the USB device.
        const std::string device = classDir + "/" + std::string(name) + "/device";
        if (ReadSmallFile(device + "/../../idVendor") != FtdiVendorId) continue;
        if (LinkTargetName(device + "/driver") != FtdiDriver) continue;
        found.emplace_back(number, std::string(name));
    }
    ::closedir(dir);
    if (found.empty()) return {};
    std::sort(found.begin(), found.end());
    return devRoot + "/" + found.front().second;
}

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

// ---- The handle's claim on the descriptor -----------------------------------------------------------

// Holds the descriptor for one call; Close waits for every Use to end before it closes the descriptor.
class SerialLink::Use {
public:
    Use(SerialLink &link, FT_HANDLE handle) : link_(link), status_(link.Claim(handle, fd_)) {}
    ~Use() {
        if (status_ == FT_OK) link_.Release();
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

    FT_STATUS Status() const { return status_; }
    int Fd() const { return fd_; }
    int WakeFd() const { return link_.wakeFd_; }  // stable while claimed

private:
    SerialLink &link_;
    int fd_ = -1;
    FT_STATUS status_;
};

FT_STATUS SerialLink::Claim(FT_HANDLE handle, int &fd) {
    std::lock_guard lock(mutex_);
    const uintptr_t value = HandleValue(handle);
    if (value == 0 || value != openHandle_ || closing_) return FT_INVALID_HANDLE;
    if (lost_.load()) return FT_IO_ERROR;
    ++users_;
    fd = fd_;
    return FT_OK;
}

void SerialLink::Release() {
    std::lock_guard lock(mutex_);
    if (--users_ == 0) idle_.notify_all();
}

// ---- Life of the link -------------------------------------------------------------------------------

SerialLink::SerialLink(SerialSettings settings) : settings_(std::move(settings)), nextHandle_(FirstHandle) {}

SerialLink::~SerialLink() {
    FT_HANDLE handle;
    {
        std::lock_guard lock(mutex_);
        handle = reinterpret_cast<FT_HANDLE>(openHandle_);
    }
    if (handle != nullptr) Close(handle);
}

SerialLink &TheSerialLink() {
    static SerialLink link;
    return link;
}

void SerialLink::Configure(const SerialSettings &settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

std::string SerialLink::DevicePath() const {
    SerialSettings settings;
    {
        std::lock_guard lock(mutex_);
        settings = settings_;
    }
    return settings.path.empty() ? FindFtdiTty(settings.sysfsRoot, settings.devRoot) : settings.path;
}

bool SerialLink::IsOpen() const {
    std::lock_guard lock(mutex_);
    return openHandle_ != 0;
}

bool SerialLink::NodeChanged() const {
    struct stat now {};
    return ::stat(openPath_.c_str(), &now) != 0 || now.st_rdev != openDevice_;
}

// ---- The D2XX side ----------------------------------------------------------------------------------

FT_STATUS SerialLink::ListDevices(void *pArg1, void *, DWORD Flags) {
    if (Flags != FT_LIST_NUMBER_ONLY || pArg1 == nullptr) return FT_INVALID_PARAMETER;
    const std::string path = DevicePath();
    struct stat node {};
    *static_cast<DWORD *>(pArg1) = !path.empty() && ::stat(path.c_str(), &node) == 0 ? 1 : 0;
    return FT_OK;
}

FT_STATUS SerialLink::Fail(FT_STATUS status, OpenProblem problem) {
    problem_ = std::move(problem);
    return status;
}

OpenProblem SerialLink::LastOpenProblem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

OpenProblem SerialLink::CheckBeforeOpen(const std::string &path, const SerialSettings &settings,
                                        struct stat &node) {
    if (AdapterLinkIsStale(path))
        return {false, path + " is left over from a brisklet-adapter that is no longer running; not opened"};
    if (::stat(path.c_str(), &node) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {true, path + " does not exist"};
        if (errno == EACCES) return {false, path + ": permission denied (a folder on the way)"};
        return {false, path + ": " + std::strerror(errno)};
    }
    if (!S_ISCHR(node.st_mode) || !IsTerminalDevice(node.st_rdev, settings.procRoot))
        return {false, path + " is not a serial terminal; not opened", true};
    if (node.st_uid != ::geteuid() && node.st_uid != 0)
        return {false, path + " is a terminal of another user; not opened", true};
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        std::string group = std::to_string(node.st_gid);
        char buffer[4096];
        struct group entry {};
        struct group *found = nullptr;
        if (::getgrgid_r(node.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
            group = found->gr_name;
        return {false, path + ": permission denied; join the group " + group +
                           " (then log in again) or install the udev rule " + UdevRuleName + " (see README)"};
    }
    {
        std::lock_guard lock(mutex_);
        if (RecentlyFoundFree(node)) return {};
    }
    if (const pid_t owner = ControllingProcess(node.st_rdev, settings.procRoot); owner != 0)
        return {false,
                path + " is the terminal of a running program (process " + std::to_string(owner) + "); not opened",
                true};
    std::lock_guard lock(mutex_);
    foundFree_ = node;
    foundFreeAt_ = Clock::now();
    return {};
}

bool SerialLink::RecentlyFoundFree(const struct stat &node) const {
    constexpr std::chrono::seconds Fresh{1};
    // A pseudo-terminal given out again keeps its number and inode but is made anew: its change time
    // tells it apart.
    return foundFreeAt_ != Clock::time_point{} && Clock::now() - foundFreeAt_ < Fresh &&
           node.st_rdev == foundFree_.st_rdev && node.st_ino == foundFree_.st_ino &&
           node.st_ctim.tv_sec == foundFree_.st_ctim.tv_sec &&
           node.st_ctim.tv_nsec == foundFree_.st_ctim.tv_nsec;
}

FT_STATUS SerialLink::Open(int deviceNumber, FT_HANDLE *pHandle) {
    if (pHandle == nullptr) return FT_INVALID_PARAMETER;
    if (deviceNumber != 0) return FT_DEVICE_NOT_FOUND;
    SerialSettings settings;
    {
        std::lock_guard lock(mutex_);
        if (openHandle_ != 0) return FT_DEVICE_NOT_OPENED;
        settings = settings_;
    }
    // Discovery and the checks read sysfs and procfs: not under the lock.
    const std::string path = DevicePath();
    struct stat node {};
    OpenProblem problem;
    if (path.empty())
        problem = {true, "no FTDI tty found: no /dev/ttyUSB* of USB vendor 0403 bound to ftdi_sio"};
    else
        problem = CheckBeforeOpen(path, settings, node);

    std::lock_guard lock(mutex_);
    if (!problem.text.empty())
        return Fail(problem.absent ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED, problem);
    if (openHandle_ != 0) return FT_DEVICE_NOT_OPENED;
    speed_t speed;
    if (!BaudCode(settings_.baud, speed)) return FT_INVALID_PARAMETER;

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV)
            return Fail(FT_DEVICE_NOT_FOUND, {true, path + " does not exist"});
        if (error == EBUSY)
            return Fail(FT_DEVICE_NOT_OPENED, {false, path + " is in use by another program", true});
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + ": " + std::strerror(error)});
    }
    // Still the node that was checked, not one put in its place since.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || opened.st_rdev != node.st_rdev || opened.st_ino != node.st_ino ||
        !::isatty(fd)) {
        CloseQuietly(fd);
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + " changed while it was being opened; not opened"});
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        CloseQuietly(fd);
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + " is in use by another program", true});
    }
    termios tio{};
    if (::ioctl(fd, TIOCEXCL) != 0 || ::tcgetattr(fd, &tio) != 0) {
        CloseQuietly(fd);
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + ": " + std::strerror(errno)});
    }
    const termios saved = tio;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;  // a USB adapter has no carrier to wait for or hang up on
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    // VMIN 1: with O_NONBLOCK an empty queue answers EAGAIN, so a read of 0 bytes can only mean a hang-up
    // (VMIN 0 answers 0 for both).
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || wake < 0) {
        ::tcsetattr(fd, TCSANOW, &saved);
        ::ioctl(fd, TIOCNXCL);
        CloseQuietly(fd);
        if (wake >= 0) ::close(wake);
        return Fail(wake < 0 ? FT_INSUFFICIENT_RESOURCES : FT_DEVICE_NOT_OPENED,
                    {false, path + ": cannot set up the terminal"});
    }

    fd_ = fd;
    wakeFd_ = wake;
    openPath_ = path;
    openDevice_ = node.st_rdev;
    savedTio_ = saved;
    problem_ = {};
    closing_ = false;
    lost_.store(false);
    readTimeoutMs_.store(static_cast<uint32_t>(DefaultTimeout.count()));
    writeTimeoutMs_.store(static_cast<uint32_t>(DefaultTimeout.count()));
    rxEvent_.store(nullptr);
    {
        std::lock_guard rx(rxMutex_);
        rx_.Clear();
        rxHungUp_ = rxStop_ = false;
    }
    try {
        reader_ = std::thread(&SerialLink::Reader, this, fd, wake);
    } catch (const std::system_error &) {
        ::tcsetattr(fd, TCSANOW, &saved);
        ::ioctl(fd, TIOCNXCL);
        CloseQuietly(fd_);
        CloseQuietly(wakeFd_);
        return Fail(FT_INSUFFICIENT_RESOURCES, {false, path + ": cannot start its reader"});
    }
    openHandle_ = nextHandle_++;
    *pHandle = reinterpret_cast<FT_HANDLE>(openHandle_);
    return FT_OK;
}

FT_STATUS SerialLink::Close(FT_HANDLE ftHandle) {
    std::unique_lock lock(mutex_);
    const uintptr_t value = HandleValue(ftHandle);
    if (value == 0 || value != openHandle_ || closing_) return FT_INVALID_HANDLE;
    closing_ = true;
    const uint64_t one = 1;
    // Wakes every call waiting in poll() on this descriptor; the eventfd stays readable until closed.
    [[maybe_unused]] const ssize_t woke = ::write(wakeFd_, &one, sizeof one);
    {
        // Ends reads waiting for bytes, and the reader wherever it waits.
        std::lock_guard rx(rxMutex_);
        rxStop_ = true;
        rxArrived_.notify_all();
        rxRoom_.notify_all();
    }
    idle_.wait(lock, [&] { return users_ == 0; });
    rxEvent_.store(nullptr);
    if (reader_.joinable()) reader_.join();  // it never takes mutex_
    // The terminal goes back as we found it (a hung-up one refuses, which does no harm).
    ::tcsetattr(fd_, TCSANOW, &savedTio_);
    // Exclusivity outlives the descriptor on a pseudo-terminal: give it back, or the next open is refused.
    // The advisory lock goes with the descriptor.
    ::ioctl(fd_, TIOCNXCL);
    CloseQuietly(fd_);
    CloseQuietly(wakeFd_);
    openHandle_ = 0;
    closing_ = false;
    return FT_OK;
}

FT_STATUS SerialLink::ResetDevice(FT_HANDLE ftHandle) {
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    // Under the receive lock, so that no byte the reader took in before the flush lands after it.
    std::lock_guard rx(rxMutex_);
    if (::tcflush(use.Fd(), TCIOFLUSH) != 0) {
        if (IsHangUpError(errno)) MarkLost();
        return FT_IO_ERROR;
    }
    rx_.Clear();
    rxRoom_.notify_all();
    return FT_OK;
}

FT_STATUS SerialLink::SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    readTimeoutMs_.store(ReadTimeout);
    writeTimeoutMs_.store(WriteTimeout);
    return FT_OK;
}

// Under the receive lock, which the reader holds while it moves bytes from the tty into the buffer: so
// every byte is counted once, in the one place or the other. `hungUp`: the reader has found the tty hung
// up. False (errno set) when the tty refuses the count.
bool SerialLink::CountReceived(int fd, std::size_t &waiting, bool &hungUp) {
    std::lock_guard rx(rxMutex_);
    int inTty = 0;
    if (::ioctl(fd, FIONREAD, &inTty) != 0) return false;
    waiting = rx_.Size() + static_cast<std::size_t>(std::max(inTty, 0));
    hungUp = rxHungUp_;
    return true;
}

FT_STATUS SerialLink::GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes) {
    if (dwRxBytes == nullptr) return FT_INVALID_PARAMETER;
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    pollfd probe{use.Fd(), POLLIN, 0};
    bool gone = ::poll(&probe, 1, 0) < 0 || (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (!gone) {
        std::lock_guard lock(mutex_);
        gone = NodeChanged();
    }
    std::size_t waiting = 0;
    bool hungUp = false;
    if (!gone) gone = !CountReceived(use.Fd(), waiting, hungUp) || hungUp;
    if (gone) {
        MarkLost();
        return FT_IO_ERROR;
    }
    *dwRxBytes = static_cast<DWORD>(waiting);
    return FT_OK;
}

FT_STATUS SerialLink::GetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord) {
    if (dwRxBytes == nullptr || dwTxBytes == nullptr || dwEventDWord == nullptr) return FT_INVALID_PARAMETER;
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    int tx = 0;
    std::size_t waiting = 0;
    bool hungUp = false;  // left to the reads: what arrived before it is still to be handed over
    if (!CountReceived(use.Fd(), waiting, hungUp) || ::ioctl(use.Fd(), TIOCOUTQ, &tx) != 0) {
        if (IsHangUpError(errno)) MarkLost();
        return FT_IO_ERROR;
    }
    *dwRxBytes = static_cast<DWORD>(waiting);
    *dwTxBytes = static_cast<DWORD>(std::max(tx, 0));
    *dwEventDWord = 0;
    return FT_OK;
}

FT_STATUS SerialLink::Read(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned) {
    if (lpBytesReturned == nullptr || (lpBuffer == nullptr && dwBytesToRead > 0)) return FT_INVALID_PARAMETER;
    *lpBytesReturned = 0;
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    auto *out = static_cast<uint8_t *>(lpBuffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_.load());
    DWORD done = 0;
    std::unique_lock rx(rxMutex_);
    for (;;) {
        if (const std::size_t took = rx_.Pop(out + done, dwBytesToRead - done); took > 0) {
            done += static_cast<DWORD>(took);
            rxRoom_.notify_one();
        }
        if (done == dwBytesToRead || rxStop_) break;
        if (rxHungUp_) {
            // What arrived before the hang-up has been handed over; now the handle is lost.
            rx.unlock();
            MarkLost();
            *lpBytesReturned = done;
            return done > 0 ? FT_OK : FT_IO_ERROR;
        }
        if (!rxArrived_.wait_until(rx, deadline, [&] { return !rx_.Empty() || rxHungUp_ || rxStop_; })) break;
    }
    *lpBytesReturned = done;
    return FT_OK;
}

FT_STATUS SerialLink::Write(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten) {
    if (lpBytesWritten == nullptr || (lpBuffer == nullptr && dwBytesToWrite > 0)) return FT_INVALID_PARAMETER;
    *lpBytesWritten = 0;
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    const auto *data = static_cast<const uint8_t *>(lpBuffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(writeTimeoutMs_.load());
    DWORD done = 0;
    while (done < dwBytesToWrite) {
        const ssize_t n = ::write(use.Fd(), data + done, dwBytesToWrite - done);
        if (n > 0) {
            done += static_cast<DWORD>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (IsHangUpError(errno)) MarkLost();
            *lpBytesWritten = done;
            return FT_IO_ERROR;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;  // time-out: a short write, no failure
        pollfd waits[2] = {{use.Fd(), POLLOUT, 0}, {use.WakeFd(), POLLIN, 0}};
        if (::poll(waits, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        if (waits[1].revents != 0) break;
        if ((waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            MarkLost();
            *lpBytesWritten = done;
            return FT_IO_ERROR;
        }
    }
    *lpBytesWritten = done;
    return FT_OK;
}

FT_STATUS SerialLink::SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, void *Param) {
    std::lock_guard lock(mutex_);
    const uintptr_t value = HandleValue(ftHandle);
    if (value == 0 || value != openHandle_ || closing_) return FT_INVALID_HANDLE;
    if (lost_.load()) return FT_IO_ERROR;
    rxEvent_.store((Mask & FT_EVENT_RXCHAR) != 0 ? Param : nullptr);
    return FT_OK;
}

// Runs while the handle is open; Close joins it before the two descriptors are closed, so they stay
// valid here.
void SerialLink::Reader(int fd, int wakeFd) {
    for (;;) {
        {
            std::unique_lock rx(rxMutex_);
            rxRoom_.wait(rx, [&] { return rx_.Free() > 0 || rxStop_; });
            if (rxStop_) return;
        }
        pollfd waits[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents != 0) return;  // being closed
        bool hungUp =
            (waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (waits[0].revents & POLLIN) == 0;
        std::size_t took = 0;
        {
            // The read happens under the lock so that a reset's flush and the ring's emptying are one step.
            // At most ReadBurst bytes per hold: a tty that never runs dry must not keep FT_Read out.
            constexpr std::size_t ReadBurst = 64 * 1024;
            std::lock_guard rx(rxMutex_);
            while (!hungUp && rx_.Free() > 0 && took < ReadBurst) {
                const ByteRing::Span space = rx_.Space();
                const ssize_t n = ::read(fd, space.data, space.size);
                if (n > 0) {
                    rx_.Commit(static_cast<std::size_t>(n));
                    took += static_cast<std::size_t>(n);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
                hungUp = true;  // 0 on a raw non-blocking tty, or EIO
            }
            if (hungUp) rxHungUp_ = true;
            if (took > 0 || hungUp) rxArrived_.notify_all();
        }
        if (took > 0 || hungUp) {
            if (auto *event = static_cast<RxEventObject *>(rxEvent_.load())) event->Set();
        }
        if (hungUp) return;  // a hung-up tty stays readable for ever; the calls on the handle report it
    }
}

// ---- The table ------------------------------------------------------------------------------------

D2xxApi SerialD2xxApi() { return D2xxTableFor<SerialLink, &TheSerialLink>(); }
