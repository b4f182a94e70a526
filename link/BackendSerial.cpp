// The serial backend: termios and poll() rather than QSerialPort, because the D2XX calls arrive on two
// threads at once on one handle and must honour their time-outs without an event loop; a QSerialPort
// belongs to one thread and waits only through that thread's events.
#include "BackendSerial.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
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

FT_STATUS SerialLink::Open(int deviceNumber, FT_HANDLE *pHandle) {
    if (pHandle == nullptr) return FT_INVALID_PARAMETER;
    if (deviceNumber != 0) return FT_DEVICE_NOT_FOUND;
    const std::string path = DevicePath();  // discovery reads sysfs: not under the lock
    if (path.empty()) return FT_DEVICE_NOT_FOUND;

    std::lock_guard lock(mutex_);
    if (openHandle_ != 0) return FT_DEVICE_NOT_OPENED;
    speed_t speed;
    if (!BaudCode(settings_.baud, speed)) return FT_INVALID_PARAMETER;

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENXIO || errno == ENODEV ? FT_DEVICE_NOT_FOUND
                                                                    : FT_DEVICE_NOT_OPENED;
    struct stat node {};
    termios tio{};
    if (!::isatty(fd) || ::fstat(fd, &node) != 0 || ::ioctl(fd, TIOCEXCL) != 0 ||
        ::tcgetattr(fd, &tio) != 0) {
        CloseQuietly(fd);
        return FT_DEVICE_NOT_OPENED;
    }
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
        ::ioctl(fd, TIOCNXCL);
        CloseQuietly(fd);
        if (wake >= 0) ::close(wake);
        return wake < 0 ? FT_INSUFFICIENT_RESOURCES : FT_DEVICE_NOT_OPENED;
    }

    fd_ = fd;
    wakeFd_ = wake;
    openPath_ = path;
    openDevice_ = node.st_rdev;
    closing_ = false;
    lost_.store(false);
    readTimeoutMs_.store(static_cast<uint32_t>(DefaultTimeout.count()));
    writeTimeoutMs_.store(static_cast<uint32_t>(DefaultTimeout.count()));
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
    idle_.wait(lock, [&] { return users_ == 0; });
    rxEvent_.store(nullptr);
    if (notifier_.joinable()) {
        {
            std::lock_guard notify(notifyMutex_);
            stopNotifier_ = true;
            readDone_.notify_all();
        }
        notifier_.join();  // it never takes mutex_; the eventfd written above ends its poll
    }
    // Exclusivity outlives the descriptor on a pseudo-terminal: give it back, or the next open is refused.
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
    if (::tcflush(use.Fd(), TCIOFLUSH) != 0) {
        if (IsHangUpError(errno)) MarkLost();
        return FT_IO_ERROR;
    }
    return FT_OK;
}

FT_STATUS SerialLink::SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    readTimeoutMs_.store(ReadTimeout);
    writeTimeoutMs_.store(WriteTimeout);
    return FT_OK;
}

FT_STATUS SerialLink::GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes) {
    if (dwRxBytes == nullptr) return FT_INVALID_PARAMETER;
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    pollfd probe{use.Fd(), POLLIN, 0};
    int waiting = 0;
    bool gone = ::poll(&probe, 1, 0) < 0 || (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ||
                ::ioctl(use.Fd(), FIONREAD, &waiting) != 0;
    if (!gone) {
        std::lock_guard lock(mutex_);
        gone = NodeChanged();
    }
    if (gone) {
        MarkLost();
        return FT_IO_ERROR;
    }
    *dwRxBytes = static_cast<DWORD>(std::max(waiting, 0));
    return FT_OK;
}

FT_STATUS SerialLink::GetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord) {
    if (dwRxBytes == nullptr || dwTxBytes == nullptr || dwEventDWord == nullptr) return FT_INVALID_PARAMETER;
    Use use(*this, ftHandle);
    if (use.Status() != FT_OK) return use.Status();
    int rx = 0, tx = 0;
    if (::ioctl(use.Fd(), FIONREAD, &rx) != 0 || ::ioctl(use.Fd(), TIOCOUTQ, &tx) != 0) {
        if (IsHangUpError(errno)) MarkLost();
        return FT_IO_ERROR;
    }
    *dwRxBytes = static_cast<DWORD>(std::max(rx, 0));
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
    for (;;) {
        while (done < dwBytesToRead) {
            const ssize_t n = ::read(use.Fd(), out + done, dwBytesToRead - done);
            if (n > 0) {
                done += static_cast<DWORD>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            // 0 on a raw non-blocking tty, or EIO: hung up. What arrived before still belongs to the caller.
            MarkLost();
            *lpBytesReturned = done;
            return done > 0 ? FT_OK : FT_IO_ERROR;
        }
        if (done == dwBytesToRead) break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd waits[2] = {{use.Fd(), POLLIN, 0}, {use.WakeFd(), POLLIN, 0}};
        const int ready = ::poll(waits, 2, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) break;
        if (waits[1].revents != 0) break;  // being closed
        if ((waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (waits[0].revents & POLLIN) == 0) {
            MarkLost();
            *lpBytesReturned = done;
            return done > 0 ? FT_OK : FT_IO_ERROR;
        }
    }
    *lpBytesReturned = done;
    if (done > 0) {
        readSeq_.fetch_add(1);
        std::lock_guard notify(notifyMutex_);
        readDone_.notify_all();
    }
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
    if (rxEvent_.load() != nullptr && !notifier_.joinable()) {
        {
            std::lock_guard notify(notifyMutex_);
            stopNotifier_ = false;
        }
        notifier_ = std::thread(&SerialLink::Notify, this, fd_, wakeFd_);
    }
    return FT_OK;
}

// Runs while the handle is open; Close joins it before the two descriptors are closed, so they stay
// valid here.
void SerialLink::Notify(int fd, int wakeFd) {
    constexpr auto ReadWaitLimit = std::chrono::milliseconds(100);
    for (;;) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waits[1].revents != 0) return;  // being closed
        const uint64_t seen = readSeq_.load();
        if (auto *event = static_cast<RxEventObject *>(rxEvent_.load())) event->Set();
        // A hang-up stays readable for ever: the receive thread's next call finds it; nothing more to say.
        if ((waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (waits[0].revents & POLLIN) == 0)
            return;
        std::unique_lock notify(notifyMutex_);
        readDone_.wait_for(notify, ReadWaitLimit,
                           [&] { return readSeq_.load() != seen || stopNotifier_; });
        if (stopNotifier_) return;
    }
}

// ---- The table ------------------------------------------------------------------------------------

D2xxApi SerialD2xxApi() { return D2xxTableFor<SerialLink, &TheSerialLink>(); }
