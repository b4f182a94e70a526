// A fixed-capacity byte ring: the serial link's receive buffer, each direction of the emulated USB link.
//
// Not synchronised: the owner holds its lock around every call. The storage is allocated once by the
// constructor; pushing, popping and filling in place never allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class ByteRing {
public:
    explicit ByteRing(std::size_t capacity);

    ByteRing(const ByteRing &) = delete;
    ByteRing &operator=(const ByteRing &) = delete;

    std::size_t Capacity() const { return capacity_; }
    std::size_t Size() const { return size_; }
    std::size_t Free() const { return capacity_ - size_; }
    bool Empty() const { return size_ == 0; }

    // Appends as many of the `count` bytes as fit; returns how many that was (0..count).
    // Example: capacity 4 holding 3 bytes, Push("AB", 2) == 1 and only 'A' is stored.
    std::size_t Push(const uint8_t *data, std::size_t count);

    // Removes up to `count` of the oldest bytes into `out`; returns how many were moved.
    std::size_t Pop(uint8_t *out, std::size_t count);

    // The free bytes that follow the newest one without wrapping, for a producer that writes in place
    // (a read(2) straight into the ring); Commit(n) then makes n of them the newest bytes.
    // Example: capacity 8, head 6, size 1: Space() is {storage + 7, 1}; after Commit(1), {storage, 6}.
    struct Span {
        uint8_t *data;
        std::size_t size;
    };
    Span Space();
    void Commit(std::size_t count);

    void Clear() { head_ = size_ = 0; }

private:
    std::unique_ptr<uint8_t[]> storage_;
    std::size_t capacity_;
    std::size_t head_ = 0;  // index of the oldest byte
    std::size_t size_ = 0;
};
