// A fixed-capacity byte ring: one direction of the emulated USB link.
//
// Not synchronised: the owner (SimAdapter) holds its lock around every call. The storage is allocated
// once by the constructor; pushing and popping never allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class SimPipe {
public:
    explicit SimPipe(std::size_t capacity);

    SimPipe(const SimPipe &) = delete;
    SimPipe &operator=(const SimPipe &) = delete;

    std::size_t Capacity() const { return capacity_; }
    std::size_t Size() const { return size_; }
    std::size_t Free() const { return capacity_ - size_; }
    bool Empty() const { return size_ == 0; }

    // Appends as many of the `count` bytes as fit; returns how many that was (0..count).
    // Example: capacity 4 holding 3 bytes, Push("AB", 2) == 1 and only 'A' is stored.
    std::size_t Push(const uint8_t *data, std::size_t count);

    // Removes up to `count` of the oldest bytes into `out`; returns how many were moved.
    std::size_t Pop(uint8_t *out, std::size_t count);

    void Clear() { head_ = size_ = 0; }

private:
    std::unique_ptr<uint8_t[]> storage_;
    std::size_t capacity_;
    std::size_t head_ = 0;  // index of the oldest byte
    std::size_t size_ = 0;
};
