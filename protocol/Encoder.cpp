#include "Encoder.h"

std::size_t BuildFrame(uint8_t code, const uint8_t *payload, int len, uint8_t *out) {
    std::size_t n = len > 0 ? static_cast<std::size_t>(len) : 0;
    if (n > frame::MaxCommandPayload) n = frame::MaxCommandPayload;
    return frame::BuildEnvelope(code, payload, static_cast<uint8_t>(n), out);
}
