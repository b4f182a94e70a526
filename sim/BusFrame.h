// A CAN frame as the emulated adapter sees it on its bus: what its slots transmit, what it hears, and
// what its type 11 reports describe.
#pragma once

#include <array>
#include <cstdint>

struct BusFrame {
    uint32_t identifier = 0;
    bool extended = false;
    bool remote = false;
    uint8_t length = 0;  // data length code as sent in the info byte, 0..15
    std::array<uint8_t, 8> data{};
    bool operator==(const BusFrame &) const = default;
};
