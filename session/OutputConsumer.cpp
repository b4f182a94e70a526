#include "OutputConsumer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Events handed to the output at a time.
constexpr std::size_t WriteBatch = 1024;

}  // namespace

OutputConsumer::OutputConsumer(std::string name, Write write, std::size_t capacity)
    : name_(std::move(name)),
      write_(std::move(write)),
      capacity_(std::max<std::size_t>(capacity, 1)),
      ring_(new BusEvent[capacity_]),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

OutputConsumer::~OutputConsumer() {
    Stop();
    if (stopFd_ >= 0) ::close(stopFd_);
}

void OutputConsumer::Start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread(&OutputConsumer::Run, this);
}

void OutputConsumer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    arrived_.notify_all();
    if (stopFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
}

void OutputConsumer::Take(std::span<const BusEvent> events) {
    std::size_t lost = 0;
    {
        std::lock_guard lock(mutex_);
        const std::size_t room = capacity_ - count_;
        const std::size_t take = std::min(room, events.size());
        for (std::size_t i = 0; i < take; ++i) ring_[(head_ + count_ + i) % capacity_] = events[i];
        count_ += take;
        lost = events.size() - take;
    }
    if (lost > 0) dropped_.fetch_add(lost, std::memory_order_relaxed);
    arrived_.notify_one();
}

void OutputConsumer::Run() {
    std::unique_ptr<BusEvent[]> out(new BusEvent[WriteBatch]);
    for (;;) {
        std::size_t n = 0;
        {
            std::unique_lock lock(mutex_);
            arrived_.wait(lock, [&] { return count_ > 0 || stopping_; });
            if (count_ == 0) break;  // stopping, and everything went out
            n = std::min(count_, WriteBatch);
            for (std::size_t i = 0; i < n; ++i) out[i] = ring_[(head_ + i) % capacity_];
            head_ = (head_ + n) % capacity_;
            count_ -= n;
        }
        write_(std::span<const BusEvent>(out.get(), n));
    }
}

std::string OutputConsumer::DropNotice() {
    const uint64_t dropped = dropped_.load();
    if (dropped == told_) return {};
    told_ = dropped;
    return name_ + ": " + std::to_string(dropped) + " frames dropped, the output is not keeping up";
}
