#include "StatusLines.h"

#include <unistd.h>

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

void StatusLines::Post(std::string_view line) {
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        if (count_ == Capacity) {
            ++dropped_;
        } else {
            Line &slot = ring_[(head_ + count_++) % Capacity];
            slot.size = std::min(line.size(), MaxLine - 1);
            std::memcpy(slot.text, line.data(), slot.size);
            slot.text[slot.size++] = '\n';
        }
        post = !drainPosted_;
        drainPosted_ = true;
    }
    if (QThread::currentThread() == thread()) {
        Drain();
        return;
    }
    if (post)
        QMetaObject::invokeMethod(
            this, [this] { Drain(); }, Qt::QueuedConnection);
}

void StatusLines::Drain() {
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
            char text[64];
            const int n = std::snprintf(text, sizeof text, "(%zu status lines left out)\n", dropped);
            Write(text, static_cast<std::size_t>(n));
            return;
        }
        Write(line.text, line.size);
    }
}

// One write(2) per line, so lines from this process and others never interleave within a line.
void StatusLines::Write(const char *text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to report that reporting failed
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}
