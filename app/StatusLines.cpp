#include "StatusLines.h"

#include <poll.h>
#include <unistd.h>

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

StatusLines::StatusLines(int fd, std::string prefix) : fd_(fd), prefix_(std::move(prefix)) {
    interval_.setInterval(RepeatInterval);
    connect(&interval_, &QTimer::timeout, this, [this] { EveryInterval(); });
    interval_.start();
}

void StatusLines::Post(std::string_view line) {
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        if (line == last_ && now - lastSaid_ < RepeatInterval) {
            ++repeats_;
            return;  // said with its count at the end of the interval
        }
        FlushRepeatsLocked();
        last_.assign(line);
        lastSaid_ = now;
        PushLocked(line);
        post = !drainPosted_;
        drainPosted_ = true;
    }
    if (QThread::currentThread() == thread()) {
        Drain();
        return;
    }
    if (post) QMetaObject::invokeMethod(this, [this] { Drain(); }, Qt::QueuedConnection);
}

void StatusLines::PushLocked(std::string_view text) {
    if (count_ == Capacity) {
        ++dropped_;
        return;
    }
    Line &slot = ring_[(head_ + count_++) % Capacity];
    const std::size_t room = MaxLine - 1;
    std::size_t n = std::min(prefix_.size(), room);
    std::memcpy(slot.text, prefix_.data(), n);
    const std::size_t take = std::min(text.size(), room - n);
    std::memcpy(slot.text + n, text.data(), take);
    n += take;
    slot.text[n++] = '\n';
    slot.size = n;
}

void StatusLines::FlushRepeatsLocked() {
    if (repeats_ == 0) return;
    const std::string line = last_ + " (repeated " + std::to_string(repeats_) + " times)";
    repeats_ = 0;
    PushLocked(line);
}

void StatusLines::EveryInterval() {
    {
        std::lock_guard lock(mutex_);
        if (repeats_ > 0) {
            FlushRepeatsLocked();
            lastSaid_ = Clock::now();
        }
    }
    Drain();
}

void StatusLines::Drain() {
    if (unwritten_ > 0) {
        char text[96];
        const int n = std::snprintf(text, sizeof text, "%s(%zu status lines not written: standard error was full)\n",
                                    prefix_.c_str(), unwritten_);
        if (n > 0 && Write(text, std::min(static_cast<std::size_t>(n), sizeof text - 1))) unwritten_ = 0;
    }
    for (;;) {
        Line line;
        std::size_t dropped = 0;
        {
            std::lock_guard lock(mutex_);
            if (count_ == 0) {
                dropped = dropped_;
                dropped_ = 0;
                drainPosted_ = false;
                if (dropped == 0) return;
            } else {
                line = ring_[head_];
                head_ = (head_ + 1) % Capacity;
                --count_;
            }
        }
        if (dropped > 0) {
            char text[96];
            const int n =
                std::snprintf(text, sizeof text, "%s(%zu status lines left out)\n", prefix_.c_str(), dropped);
            if (n > 0 && !Write(text, std::min(static_cast<std::size_t>(n), sizeof text - 1))) unwritten_ += dropped;
            return;
        }
        if (!Write(line.text, line.size)) ++unwritten_;
    }
}

// One write(2) per line, so that lines from this process and others never interleave within a line, and
// only when the descriptor takes it without waiting: a pipe or terminal that polls writable has room for
// at least PIPE_BUF bytes, more than a line.
bool StatusLines::Write(const char *text, std::size_t size) {
    pollfd p{fd_, POLLOUT, 0};
    int ready;
    while ((ready = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    if (ready <= 0 || (p.revents & POLLOUT) == 0) return false;
    while (size > 0) {
        const ssize_t n = ::write(fd_, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // nowhere to report that reporting failed
        text += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
