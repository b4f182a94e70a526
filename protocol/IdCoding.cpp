#include "IdCoding.h"

const std::array<BitTimingRow, 8> BitTimingTable{{
    {10, 49, 0, 7, 5},
    {20, 24, 0, 7, 5},
    {50, 9, 0, 7, 5},
    {100, 4, 0, 7, 5},
    {125, 3, 0, 7, 5},
    {250, 1, 0, 7, 5},
    {500, 0, 0, 7, 5},
    {1000, 0, 0, 2, 2},
}};

IdBytes EncodeId(uint32_t identifier, bool remote, bool standard) {
    IdBytes b;
    if (standard) {
        b.ID1 = static_cast<uint8_t>((identifier >> 3) & 0xFF);
        b.ID2 = static_cast<uint8_t>((identifier & 7) << 5);
    } else {
        b.ID1 = static_cast<uint8_t>((identifier >> 21) & 0xFF);
        b.ID2 = static_cast<uint8_t>((identifier >> 13) & 0xFF);
        b.ID3 = static_cast<uint8_t>((identifier >> 5) & 0xFF);
        b.ID4 = static_cast<uint8_t>((identifier & 0x1F) << 3);
    }
    if (remote) b.ID4 = static_cast<uint8_t>(b.ID4 + Id4RemoteFlag);
    return b;
}

uint32_t DecodeId(uint8_t ID1, uint8_t ID2, uint8_t ID3, uint8_t ID4, uint8_t Info) {
    if (Info & InfoExtendedFlag)
        return (uint32_t{ID1} << 21) + (uint32_t{ID2} << 13) + (uint32_t{ID3} << 5) + (ID4 >> 3);
    return uint32_t{ID1} * 8 + (ID2 >> 5);
}

TimingBytes TimingBytesForRow(int row) {
    if (row < 0 || row >= static_cast<int>(BitTimingTable.size())) row = DefaultBitRateRow;
    const BitTimingRow &r = BitTimingTable[static_cast<std::size_t>(row)];
    return {static_cast<uint8_t>(r.p0 * 2), static_cast<uint8_t>(r.p1 * 2),
            static_cast<uint8_t>(r.p2 * 2 + r.p3 * 16)};
}

int KbpsForTiming(const TimingBytes &timing) {
    for (std::size_t row = 0; row < BitTimingTable.size(); ++row)
        if (TimingBytesForRow(static_cast<int>(row)) == timing) return BitTimingTable[row].kbps;
    return 0;
}
