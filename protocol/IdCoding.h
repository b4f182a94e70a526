// CAN identifiers to and from the adapter's four ID bytes, and the bit timing table.
//
// Standard (11-bit):  ID1 = id bits 10..3, ID2 bits 7..5 = id bits 2..0, ID3 = 0, ID4 = remote ? 4 : 0.
//   0x2B6 -> 56 C0 00 00; remote -> 56 C0 00 04; 0x800 -> 00 00 00 00 (bit 11 dropped).
// Extended (29-bit): ID1 = bits 28..21, ID2 = bits 20..13, ID3 = bits 12..5, ID4 = bits 4..0 << 3 | remote 4.
//   0x1ABCDEF0 -> D5 E6 F7 80; 0x1FFFFFFF remote -> FF FF FF FC; 0x123 -> 00 00 09 18.
#pragma once

#include <array>
#include <cstdint>

struct IdBytes {
    uint8_t ID1 = 0, ID2 = 0, ID3 = 0, ID4 = 0;
    bool operator==(const IdBytes &) const = default;
};

constexpr uint8_t InfoExtendedFlag = 0x10;  // info byte: data length in bits 3..0, 0x10 for 29-bit
constexpr uint8_t Id4RemoteFlag = 0x04;     // ID4's bit of a remote frame, in either form

IdBytes EncodeId(uint32_t identifier, bool remote, bool standard);

// The form comes from the info byte alone; the remote bit and the layout's zero bits never enter.
uint32_t DecodeId(uint8_t ID1, uint8_t ID2, uint8_t ID3, uint8_t ID4, uint8_t Info);

// One row per item of the bit rate list, in its order: the rate in kbps as the list shows it, then
// prescaler - 1, propagation, phase 1 and phase 2 segments - 1.
struct BitTimingRow {
    int kbps;
    uint8_t p0, p1, p2, p3;
};
extern const std::array<BitTimingRow, 8> BitTimingTable;
constexpr int DefaultBitRateRow = 5;  // 250 kbps, used when nothing is selected

struct TimingBytes {
    uint8_t T1, T2, T3;
    bool operator==(const TimingBytes &) const = default;
};
// Row out of 0..7 (no selection) gives the 250 kbps bytes 02 00 5E.
TimingBytes TimingBytesForRow(int row);
// The other way: the rate in kbit/s of the row whose bytes these are; 0 when no row has them.
int KbpsForTiming(const TimingBytes &timing);

constexpr uint8_t ModeNormal = 2;
constexpr uint8_t ModeListening = 10;
