#include "CandumpReader.h"

#include <fcntl.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

namespace candump {

namespace {

constexpr int64_t MaxSeconds = (std::numeric_limits<int64_t>::max() - 999999) / 1000000;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A cursor that checks the line's end before every byte it looks at.
class Scan {
public:
    explicit Scan(std::string_view s) : s_(s) {}
    bool End() const { return at_ >= s_.size(); }
    char Peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    bool Accept(char c) {
        if (End() || s_[at_] != c) return false;
        ++at_;
        return true;
    }
    std::size_t Blanks() {
        const std::size_t from = at_;
        while (!End() && IsBlank(s_[at_])) ++at_;
        return at_ - from;
    }
    std::string_view Run(bool (*in)(char)) {
        const std::size_t from = at_;
        while (!End() && in(s_[at_])) ++at_;
        return s_.substr(from, at_ - from);
    }

private:
    std::string_view s_;
    std::size_t at_ = 0;
};

LineResult Bad(const char *why) { return {LineKind::Malformed, why}; }

}  // namespace

LineResult ReadLogLine(std::string_view line, LogRecord &out) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Scan in(line);
    in.Blanks();
    if (in.End()) return {LineKind::Blank};
    out = LogRecord{};

    if (!in.Accept('(')) return Bad("expected '(' and the time stamp");
    const std::string_view seconds = in.Run(IsDigit);
    if (seconds.empty() || !in.Accept('.')) return Bad("expected the time stamp as (seconds.microseconds)");
    const std::string_view fraction = in.Run(IsDigit);
    if (fraction.empty() || fraction.size() > 9 || !in.Accept(')'))
        return Bad("expected the time stamp as (seconds.microseconds)");
    if (std::from_chars(seconds.data(), seconds.data() + seconds.size(), out.time.seconds).ec != std::errc{} ||
        out.time.seconds > MaxSeconds)
        return Bad("the time stamp is out of range");
    for (std::size_t i = 0; i < 6; ++i)
        out.time.microseconds = out.time.microseconds * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);

    if (in.Blanks() == 0) return Bad("expected a blank after the time stamp");
    out.interface = in.Run([](char c) { return c > ' ' && c <= '~'; });
    if (!ValidInterfaceName(out.interface)) return Bad("expected the interface name");
    if (in.Blanks() == 0) return Bad("expected a blank after the interface name");

    BusEvent &e = out.event;
    e.arrivalUs = out.time.seconds * 1000000 + out.time.microseconds;
    const std::string_view id = in.Run([](char c) { return HexDigit(c) >= 0; });
    if ((id.size() != 3 && id.size() != 8) || !in.Accept('#'))
        return Bad("expected a 3 or 8 digit hex identifier and '#'");
    if (in.Peek() == '#') return {LineKind::NotClassic};
    uint32_t canId = 0;
    for (const char c : id) canId = canId << 4 | static_cast<uint32_t>(HexDigit(c));
    const bool error = id.size() == 8 && (canId & CAN_ERR_FLAG) && !(canId & CAN_EFF_FLAG);
    if (id.size() == 3 && canId > CAN_SFF_MASK) return Bad("an 11-bit identifier is at most 7FF");
    if (id.size() == 8 && !error && canId > CAN_EFF_MASK) return Bad("a 29-bit identifier is at most 1FFFFFFF");
    e.extended = id.size() == 8 && !error;
    e.id = error ? canId & CAN_ERR_MASK : canId;

    if (in.Accept('R') || in.Accept('r')) {
        e.remote = true;
        if (IsDigit(in.Peek())) {
            e.dlc = static_cast<uint8_t>(in.Peek() - '0');
            in.Accept(in.Peek());
            if (e.dlc > 8) return Bad("a remote frame's length is at most 8");
        }
    } else {
        int bytes = 0;
        while (HexDigit(in.Peek()) >= 0) {
            if (bytes == 8) return Bad("more than 8 data bytes");
            const int high = HexDigit(in.Peek());
            in.Accept(in.Peek());
            const int low = HexDigit(in.Peek());
            if (low < 0) return Bad("expected data as pairs of hex digits");
            in.Accept(in.Peek());
            e.data[bytes++] = static_cast<uint8_t>(high << 4 | low);
            if (in.Accept('.') && HexDigit(in.Peek()) < 0) return Bad("expected a data byte after '.'");
        }
        e.dlc = static_cast<uint8_t>(bytes);
        if (in.Accept('_')) {  // the length code of an 8-byte frame, 9..F
            const int code = HexDigit(in.Peek());
            if (bytes != 8 || code < 9) return Bad("expected a length code of 9 to F after 8 bytes and '_'");
            in.Accept(in.Peek());
            e.dlc = static_cast<uint8_t>(code);
        }
    }
    if (error) {
        if (e.remote) return Bad("an error frame is not a remote frame");
        e.kind = BusEvent::Kind::BusError;
        e.errorFlags = FlagsOfErrorFrame(canId, e.data);
    }
    if (in.Blanks() > 0 && !in.End()) {
        if (in.Accept('T'))
            e.transmitted = true;
        else if (!in.Accept('R'))
            return Bad("expected the end of the line or a direction (T or R)");
        in.Blanks();
    }
    if (!in.End()) return Bad("expected the end of the line");
    return {LineKind::Record};
}

LogReader::LogReader() = default;

LogReader::~LogReader() {
    if (ownFd_) ::close(fd_);
}

bool LogReader::Open(const std::string &path, std::string &why) {
    if (ownFd_) ::close(fd_);
    fd_ = -1;
    ownFd_ = false;
    start_ = end_ = 0;
    discarding_ = eof_ = false;
    line_ = 0;
    if (path == "-") {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) {
            why = path + ": " + std::strerror(errno);
            return false;
        }
        ownFd_ = true;
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            why = path + ": is a folder, not a log file";
            return false;
        }
    }
    if (!buffer_) buffer_ = std::make_unique<char[]>(BufferBytes);
    return true;
}

LineResult LogReader::Next(LogRecord &out) {
    if (fd_ < 0 || !buffer_) return {LineKind::End};
    while (true) {
        const char *begin = buffer_.get() + start_;
        if (const void *nl = std::memchr(begin, '\n', end_ - start_)) {
            const auto length = static_cast<std::size_t>(static_cast<const char *>(nl) - begin);
            start_ += length + 1;
            if (discarding_) {
                discarding_ = false;
                continue;
            }
            ++line_;
            if (length > MaxLogLine) return Bad("the line is too long for a log line");
            return ReadLogLine(std::string_view(begin, length), out);
        }
        if (end_ - start_ > MaxLogLine) {  // no end in sight: report it once, drop the rest as it comes
            start_ = end_ = 0;
            if (!discarding_) {
                discarding_ = true;
                ++line_;
                return Bad("the line is too long for a log line");
            }
        }
        if (eof_) {
            if (start_ == end_ || discarding_) return {LineKind::End};
            ++line_;
            const std::string_view last(buffer_.get() + start_, end_ - start_);
            start_ = end_;
            return ReadLogLine(last, out);
        }
        std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
        const ssize_t n = ::read(fd_, buffer_.get() + end_, BufferBytes - end_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error_ = std::strerror(errno);
            eof_ = true;
            start_ = end_ = 0;
            return {LineKind::Failed, error_.c_str()};
        }
        if (n == 0) eof_ = true;
        end_ += static_cast<std::size_t>(n);
    }
}

}  // namespace candump
