#include "FrameLength.h"

namespace busview {

namespace {

// Start-of-frame to the last CRC bit of the longest frame: 54 + 64.
constexpr int StuffedFieldMax = 118;
// CRC delimiter, ACK slot, ACK delimiter, end-of-frame, intermission: never stuffed.
constexpr int TrailerBits = 3 + 7 + 3;
constexpr uint16_t CrcPolynomial = 0x4599;

class BitString {
public:
    void Push(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits_[size_++] = static_cast<uint8_t>((value >> i) & 1);
    }
    void PushCrc() {
        uint16_t crc = 0;
        for (int i = 0; i < size_; ++i) {
            const bool feedback = (bits_[i] != 0) != ((crc >> 14) & 1);
            crc = static_cast<uint16_t>((crc << 1) & 0x7FFF);
            if (feedback) crc ^= CrcPolynomial;
        }
        Push(crc, 15);
    }
    int StuffBits() const {
        int stuffed = 0, run = 0;
        uint8_t last = 2;  // no bit yet
        for (int i = 0; i < size_; ++i) {
            run = bits_[i] == last ? run + 1 : 1;
            last = bits_[i];
            if (run == 5) {  // the stuff bit has the other value and starts the next run
                ++stuffed;
                last ^= 1;
                run = 1;
            }
        }
        return stuffed;
    }
    int Size() const { return size_; }

private:
    uint8_t bits_[StuffedFieldMax];
    int size_ = 0;
};

}  // namespace

int FrameBitsOnWire(uint32_t id, bool extended, bool remote, uint8_t dlc, const uint8_t (&data)[8]) {
    BitString bits;
    bits.Push(0, 1);  // start of frame
    if (extended) {
        id &= 0x1FFFFFFF;
        bits.Push(id >> 18, 11);
        bits.Push(0b11, 2);  // SRR, IDE
        bits.Push(id & 0x3FFFF, 18);
        bits.Push(remote ? 1 : 0, 1);
        bits.Push(0, 2);  // r1, r0
    } else {
        bits.Push(id & 0x7FF, 11);
        bits.Push(remote ? 1 : 0, 1);
        bits.Push(0, 2);  // IDE, r0
    }
    bits.Push(dlc & 0x0F, 4);
    const int bytes = remote ? 0 : (dlc > 8 ? 8 : dlc);
    for (int i = 0; i < bytes; ++i) bits.Push(data[i], 8);
    bits.PushCrc();
    return bits.Size() + bits.StuffBits() + TrailerBits;
}

int FrameBitsOnWire(const BusEvent &event) {
    if (event.kind != BusEvent::Kind::Frame) return 0;
    return FrameBitsOnWire(event.id, event.extended, event.remote, event.dlc, event.data);
}

}  // namespace busview
