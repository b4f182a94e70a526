#include "ByteRing.h"

#include <algorithm>
#include <cstring>

ByteRing::ByteRing(std::size_t capacity) : storage_(new uint8_t[capacity]), capacity_(capacity) {}

std::size_t ByteRing::Push(const uint8_t *data, std::size_t count) {
    const std::size_t n = std::min(count, Free());
    if (n == 0) return 0;  // memcpy must not see a null pointer, even for no bytes
    std::size_t tail = (head_ + size_) % capacity_;
    const std::size_t first = std::min(n, capacity_ - tail);
    std::memcpy(storage_.get() + tail, data, first);
    std::memcpy(storage_.get(), data + first, n - first);
    size_ += n;
    return n;
}

std::size_t ByteRing::Pop(uint8_t *out, std::size_t count) {
    const std::size_t n = std::min(count, size_);
    if (n == 0) return 0;
    const std::size_t first = std::min(n, capacity_ - head_);
    std::memcpy(out, storage_.get() + head_, first);
    std::memcpy(out + first, storage_.get(), n - first);
    head_ = (head_ + n) % capacity_;
    size_ -= n;
    if (size_ == 0) head_ = 0;
    return n;
}

ByteRing::Span ByteRing::Space() {
    const std::size_t tail = (head_ + size_) % capacity_;
    return {storage_.get() + tail, std::min(Free(), capacity_ - tail)};
}

void ByteRing::Commit(std::size_t count) { size_ += std::min(count, Space().size); }
