#include "Encoder.h"

#include "unitMy.h"

std::size_t BuildFrame(uint8_t code, const uint8_t *payload, int len, uint8_t *out) {
    std::size_t n = len > 0 ? static_cast<std::size_t>(len) : 0;
    if (n > frame::MaxCommandPayload) n = frame::MaxCommandPayload;
    out[0] = frame::Start1;
    out[1] = frame::Start2;
    out[2] = code;
    out[3] = static_cast<uint8_t>(n);
    for (std::size_t i = 0; i < n; ++i) out[4 + i] = payload[i];
    out[n + 4] = XorChecksum(out, 2, static_cast<uint8_t>(n + 3));
    out[n + 5] = frame::End1;
    out[n + 6] = frame::End2;
    return n + frame::Overhead;
}
