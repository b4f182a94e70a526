#include "CommandLog.h"

#include <cstring>

void CommandLog::OnHostBytes(SimAdapter &adapter, const uint8_t *data, std::size_t count) {
    Feed(data, count);
    if (next_) next_->OnHostBytes(adapter, data, count);
}

void CommandLog::OnPowerChange(SimAdapter &adapter, bool plugged) {
    {
        std::lock_guard lock(mutex_);
        pendingSize_ = 0;
    }
    if (next_) next_->OnPowerChange(adapter, plugged);
}

void CommandLog::Feed(const uint8_t *data, std::size_t count) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    const std::size_t before = frames_.size();
    for (std::size_t i = 0; i < count; ++i) {
        pending_[pendingSize_++] = data[i];
        Scan(now);
    }
    if (frames_.size() != before) added_.notify_all();
}

void CommandLog::DropFront(std::size_t n) {
    std::memmove(pending_, pending_ + n, pendingSize_ - n);
    pendingSize_ -= n;
}

// Runs after every byte, so the buffer holds at most one candidate frame and never overflows: a
// candidate is decided (taken or skipped) the moment its last byte arrives.
void CommandLog::Scan(std::chrono::steady_clock::time_point now) {
    while (pendingSize_ > 0) {
        const frame::Match match = frame::MatchAt(pending_, pendingSize_);
        if (match.kind == frame::Match::Partial) return;
        if (match.kind == frame::Match::NotAFrame) {
            ++skipped_;
            DropFront(1);
            continue;
        }
        LoggedFrame f;
        f.type = pending_[2];
        f.payload.assign(pending_ + 4, pending_ + match.size - 3);
        f.bytes.assign(pending_, pending_ + match.size);
        f.checksumOk = frame::Checksum(pending_) == 0;
        f.arrived = now;
        frames_.push_back(std::move(f));
        DropFront(match.size);
    }
}

std::vector<LoggedFrame> CommandLog::Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::size_t CommandLog::Count() const {
    std::lock_guard lock(mutex_);
    return frames_.size();
}

std::size_t CommandLog::SkippedBytes() const {
    std::lock_guard lock(mutex_);
    return skipped_;
}

bool CommandLog::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

void CommandLog::Clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    pendingSize_ = 0;
    skipped_ = 0;
}
