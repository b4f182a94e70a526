#include "Frame.h"

#include "unitMy.h"

const std::array<const char *, 11> StatusTexts{
    "Adaptor Ready", "CAN Initialization", "MC Initialization", "OUT Initialization", "Time Initialization",
    "Res",           "CAN Disable",        "MC Disable",        "OUT Disable",        "Res",
    "Pause",
};

namespace frame {

uint8_t Checksum(const uint8_t *frame) { return XorBytes(frame + 2, std::size_t{frame[3]} + 3); }

std::size_t BuildEnvelope(uint8_t type, const uint8_t *payload, uint8_t length, uint8_t *out) {
    out[0] = Start1;
    out[1] = Start2;
    out[2] = type;
    out[3] = length;
    for (std::size_t i = 0; i < length; ++i) out[4 + i] = payload[i];
    out[4 + length] = XorBytes(out + 2, std::size_t{length} + 2);
    out[5 + length] = End1;
    out[6 + length] = End2;
    return length + Overhead;
}

}  // namespace frame
