// The serial backend: termios and poll() rather than QSerialPort, because the D2XX calls arrive on two
// threads at once on one handle and must honour their time-outs without an event loop; a QSerialPort
// belongs to one thread and waits only through that thread's events.
#include "BackendSerial.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "D2xxDevice.h"
#include "LinkBackend.h"
#include "RxEvent.h"

namespace {

// Counted from here so that a stray small integer is never mistaken for a handle.
constexpr uintptr_t FirstHandle = 0x5E71A001u;

uintptr_t HandleValue(FT_HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

// The calls that say the tty is gone for good, as opposed to "try again".
bool IsHangUpError(int error) { return error == EIO || error == ENODEV || error == ENXIO || error == EBADF; }

void CloseQuietly(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

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

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV)
            return Fail(FT_DEVICE_NOT_FOUND, {true, path + " does not exist"});
        if (error == EBUSY)
            return Fail(FT_DEVICE_NOT_OPENED, {false, path + " is in use by another program", true});
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + ": " + std::strerror(error)});
    }
    HeldTerminal terminal(fd);  // every return below lets it go as it was found
    // Still the node that was checked, not one put in its place since.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || opened.st_rdev != node.st_rdev || opened.st_ino != node.st_ino ||
        !::isatty(fd))
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + " changed while it was being opened; not opened"});
    // The advisory lock keeps out a second Brisklet, root's too (whom TIOCEXCL does not stop); it goes
    // with the descriptor.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + " is in use by another program", true});
    termios tio{};
    if (!terminal.MakeExclusive() || !terminal.KeepSettings(tio))
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + ": " + std::strerror(errno)});
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;  // a USB adapter has no carrier to wait for or hang up on
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    // VMIN 1: with O_NONBLOCK an empty queue answers EAGAIN, so a read of 0 bytes can only mean a hang-up
    // (VMIN 0 answers 0 for both).
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return Fail(FT_DEVICE_NOT_OPENED, {false, path + ": cannot set up the terminal"});
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return Fail(FT_INSUFFICIENT_RESOURCES, {false, path + ": cannot set up the terminal"});

    wakeFd_ = wake;
    openPath_ = path;
    openDevice_ = node.st_rdev;
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
        CloseQuietly(wakeFd_);
        return Fail(FT_INSUFFICIENT_RESOURCES, {false, path + ": cannot start its reader"});
    }
    fd_ = fd;
    terminal_ = std::move(terminal);
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
    terminal_.Release();
    fd_ = -1;
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
