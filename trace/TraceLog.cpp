#include "TraceLog.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
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
    startsEmpty_ = !regular_ || st.st_size == 0;
    label_ = label;
    used_ = 0;
    stamps_.Reset();
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

void TraceLog::Log(std::span<const BusEvent> events) {
    for (const BusEvent &e : events) {
        if (e.kind == BusEvent::Kind::CommandReport) continue;
        char *line = Reserve();
        if (!line) return;
        const std::span<char> room{line, BufferSize - used_};
        // A bus error report and a sent frame carry no adapter time: the PC's clock stamps them.
        const candump::Timestamp time = stamps_.Stamp(e.kind == BusEvent::Kind::Frame && !e.transmitted ? e.adapterMs : -1,
                                                      e.adapterClockSet, e.arrivalUs);
        if (e.kind == BusEvent::Kind::BusError)
            used_ += candump::FormatBusError(room, time, options_.interfaceName, e.errorFlags);
        else if (e.transmitted)
            used_ += candump::FormatSentFrame(room, time, options_.interfaceName, e.id, e.info, e.remote, e.data);
        else
            used_ += candump::FormatCanFrame(room, time, options_.interfaceName, e.id, e.info, e.remote, e.data);
    }
    if (fd_ >= 0 && !Failed()) Flush();
}

void TraceLog::WriteLines(std::string_view text) {
    while (!text.empty() && fd_ >= 0 && !Failed()) {
        // At line boundaries, a buffer's worth at a time.
        std::size_t take = std::min(text.size(), BufferSize - used_);
        if (take < text.size()) {
            while (take > 0 && text[take - 1] != '\n') --take;
            if (take == 0 && used_ == 0) take = std::min(text.size(), BufferSize);  // one line longer than all
        }
        if (take == 0) {
            if (!Flush()) return;
            continue;
        }
        std::memcpy(buffer_.get() + used_, text.data(), take);
        used_ += take;
        text.remove_prefix(take);
        if (!text.empty() && !Flush()) return;
    }
    if (fd_ >= 0 && !Failed()) Flush();
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
    if (error == ECANCELED)
        Fail("the output took no more lines before the program stopped");
    else
        Fail("write failed", error);
    return false;
}

bool TraceLog::WriteAll(const char *data, std::size_t size, std::size_t &written, int &error) {
    WriteSignalGuard guard;
    written = 0;
    error = 0;
    if (regular_) return WriteChunk(data, size, written, error);
    // A pipe or a terminal: whole lines at most PIPE_BUF at a time, each written only once the output
    // takes it, so that a reader that stops never holds a half line and a stop never waits for it.
    while (written < size) {
        std::size_t end = std::min(size, written + static_cast<std::size_t>(PIPE_BUF));
        if (end < size) {
            std::size_t cut = end;
            while (cut > written && data[cut - 1] != '\n') --cut;
            if (cut > written) end = cut;
        }
        // Until a stop is asked, wait for the output or the stop; after it, for the output alone, as long as
        // what is left of the grace.
        const int graceMs = StopGraceMs();
        pollfd waits[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        const int ready = ::poll(waits, graceMs < 0 && stopFd_ >= 0 ? 2 : 1, graceMs);
        if (ready < 0 && errno == EINTR) continue;
        if ((waits[0].revents & (POLLOUT | POLLERR | POLLHUP)) == 0) {
            if (ready > 0 && waits[1].revents != 0) continue;  // the stop came: wait out its grace
            error = ECANCELED;  // stopped while the output took nothing
            return false;
        }
        std::size_t part = 0;
        const bool ok = WriteChunk(data + written, end - written, part, error);
        written += part;
        if (!ok) return false;
    }
    return true;
}

// How long one wait for the output may last: for ever (-1) while the program runs; once it is stopping,
// what is left of a short grace, so the output's reader gets a moment to catch up.
int TraceLog::StopGraceMs() {
    if (stopFd_ < 0) return -1;
    if (stopSeen_ == std::chrono::steady_clock::time_point{}) {
        pollfd stop{stopFd_, POLLIN, 0};
        if (::poll(&stop, 1, 0) <= 0) return -1;
        stopSeen_ = std::chrono::steady_clock::now();
    }
    const auto left = StopGrace - (std::chrono::steady_clock::now() - stopSeen_);
    return left.count() > 0 ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()) : 0;
}

bool TraceLog::WriteChunk(const char *data, std::size_t size, std::size_t &written, int &error) {
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
