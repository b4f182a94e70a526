// Frames written out byte by byte for the protocol tests, independently of the code under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<uint8_t>;

// FA F5 type L payload checksum AF 5F, the checksum computed here.
inline Bytes Frame(uint8_t type, const Bytes &payload) {
    Bytes f{0xFA, 0xF5, type, static_cast<uint8_t>(payload.size())};
    uint8_t sum = type ^ static_cast<uint8_t>(payload.size());
    for (uint8_t b : payload) {
        f.push_back(b);
        sum ^= b;
    }
    f.insert(f.end(), {sum, 0xAF, 0x5F});
    return f;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
