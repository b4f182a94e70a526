#include "TraceLog.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <system_error>
#include <utility>

#include "SafeFile.h"

namespace {

// Signals a failed write raises on top of its error: SIGPIPE when a pipe's reader is gone, SIGXFSZ past
// the file size limit. Either would end the process by default; the error number says the same.
class WriteSignalGuard {
public:
    WriteSignalGuard() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGPIPE);
        sigaddset(&set_, SIGXFSZ);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        pipePending_ = sigismember(&pending, SIGPIPE) == 1;
        sizePending_ = sigismember(&pending, SIGXFSZ) == 1;
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~WriteSignalGuard() {
        // Take back only what this write raised, then restore the mask.
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        const timespec none{};
        if (!pipePending_ && sigismember(&pending, SIGPIPE) == 1) Consume(SIGPIPE, none);
        if (!sizePending_ && sigismember(&pending, SIGXFSZ) == 1) Consume(SIGXFSZ, none);
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    WriteSignalGuard(const WriteSignalGuard &) = delete;
    WriteSignalGuard &operator=(const WriteSignalGuard &) = delete;

private:
    static void Consume(int signal, const timespec &none) {
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        while (sigtimedwait(&one, nullptr, &none) < 0 && errno == EINTR) {
        }
    }

    sigset_t set_{}, old_{};
    bool pipePending_ = false, sizePending_ = false;
};

}  // namespace

candump::Timestamp SystemClockStamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return {static_cast<int64_t>(now.tv_sec), static_cast<int32_t>(now.tv_nsec / 1000)};
}

TraceLog::TraceLog(TraceLogOptions options)
    : options_(std::move(options)), buffer_(new char[BufferSize]) {}

TraceLog::~TraceLog() { Close(); }

bool TraceLog::Open(const std::string &path, std::string &why) {
    if (path == "-") return OpenDescriptor(STDOUT_FILENO, false, "standard output", why);
    if (!NameValid(why)) return false;
    std::string reason;
    const int fd = OpenOutputFile(path, reason);
    if (fd < 0) {
        why = "trace log " + path + " not opened: " + reason;
        return false;
    }
    return OpenDescriptor(fd, true, path, why);
}

bool TraceLog::OpenDescriptor(int fd, bool owned, const std::string &label, std::string &why) {
    Close();
    if (!NameValid(why)) {
        if (owned) ::close(fd);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        why = "trace log " + label + ": " + std::error_code(errno, std::generic_category()).message();
        if (owned) ::close(fd);
        return false;
    }
    fd_ = fd;
    owned_ = owned;
    regular_ = S_ISREG(st.st_mode);
    label_ = label;
    used_ = 0;
    stamps_.Reset();
    pumpStarted_ = false;
    failed_.store(false);
    return true;
}

bool TraceLog::NameValid(std::string &why) const {
    if (candump::ValidInterfaceName(options_.interfaceName)) return true;
    why = "trace log: interface name \"" + options_.interfaceName + "\" is not 1 to " +
          std::to_string(candump::MaxInterfaceName) + " printable characters without spaces";
    return false;
}

bool TraceLog::Close() {
    bool ok = true;
    if (fd_ >= 0 && !Failed()) ok = Flush();
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
    used_ = 0;
    return ok && !Failed();
}

void TraceLog::CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                        const uint8_t (&Data)[8]) {
    CanFrame(Hour, Minute, Second, Millisecond, Identifier, Info, false, Data);
}

void TraceLog::CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                        bool Remote, const uint8_t (&Data)[8]) {
    char *line = Reserve();
    if (!line) return;
    const candump::Timestamp time = StampLine(((Hour * 60 + Minute) * 60 + Second) * 1000 + Millisecond);
    used_ += candump::FormatCanFrame({line, BufferSize - used_}, time, options_.interfaceName, Identifier,
                                     Info, Remote, Data);
}

void TraceLog::BusError(uint8_t Flags) {
    char *line = Reserve();
    if (!line) return;
    const candump::Timestamp time = StampLine(-1);  // the adapter sends no time with these
    used_ += candump::FormatBusError({line, BufferSize - used_}, time, options_.interfaceName, Flags);
}

void TraceLog::SentFrame(candump::Timestamp time, uint32_t Identifier, uint8_t Info, bool Remote,
                         const uint8_t (&Data)[8]) {
    char *line = Reserve();
    if (!line) return;
    used_ += candump::FormatSentFrame({line, BufferSize - used_}, time, options_.interfaceName, Identifier,
                                      Info, Remote, Data);
    Flush();
}

void TraceLog::EndOfPump() {
    pumpStarted_ = false;
    if (fd_ >= 0 && !Failed()) Flush();
}

candump::Timestamp TraceLog::StampLine(int32_t adapterMs) {
    if (!pumpStarted_) {
        const candump::Timestamp now = options_.clock();
        pumpArrivalUs_ = now.seconds * 1'000'000 + now.microseconds;
        pumpClockSet_ = options_.adapterClockSet != nullptr && options_.adapterClockSet->load();
        pumpStarted_ = true;
    }
    return stamps_.Stamp(adapterMs, pumpClockSet_, pumpArrivalUs_);
}

char *TraceLog::Reserve() {
    if (fd_ < 0 || Failed()) return nullptr;
    if (BufferSize - used_ < candump::MaxLineLength && !Flush()) return nullptr;
    return buffer_.get() + used_;
}

bool TraceLog::Flush() {
    if (used_ == 0) return true;
    if (regular_) {
        // Writes to a removed file succeed and land nowhere: stop instead of losing the trace unseen.
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
            Fail("the file was removed");
            return false;
        }
    }
    std::size_t written = 0;
    int error = 0;
    if (WriteAll(buffer_.get(), used_, written, error)) {
        used_ = 0;
        return true;
    }
    if (regular_ && written > 0) DropHalfLine(buffer_.get(), written);
    Fail("write failed", error);
    return false;
}

bool TraceLog::WriteAll(const char *data, std::size_t size, std::size_t &written, int &error) {
    WriteSignalGuard guard;
    written = 0;
    error = 0;
    // All of it in one write(2); more only when the file took part of it (a full disk does that just
    // before it fails) or a signal cut a pipe write short.
    while (written < size) {
        const ssize_t n = ::write(fd_, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (n == 0) {
            error = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// A write that stopped inside a line left its first part at the end of the file: cut it off, so the
// file ends with a whole line.
void TraceLog::DropHalfLine(const char *data, std::size_t written) {
    std::size_t whole = written;
    while (whole > 0 && data[whole - 1] != '\n') --whole;
    const std::size_t half = written - whole;
    if (half == 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || static_cast<std::size_t>(st.st_size) < half) return;
    while (::ftruncate(fd_, st.st_size - static_cast<off_t>(half)) != 0 && errno == EINTR) {
    }
}

void TraceLog::Fail(const std::string &cause, int error) {
    Fail(cause + ": " + std::error_code(error, std::generic_category()).message());
}

void TraceLog::Fail(const std::string &cause) {
    failed_.store(true);
    used_ = 0;
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
    if (options_.onError)
        options_.onError("trace log " + label_ + ": " + cause + "; logging stopped", "log stopped: " + cause);
}
