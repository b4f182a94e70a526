// The command encoder's pure half: one command frame built into a caller's buffer.
//
// BuildFrame(code, payload, len, out) writes, with frame::BuildEnvelope,
//   FA F5 | code | L | payload[0 .. L-1] | XOR of code, L and payload | AF 5F
// with L = len cut to 32 (a negative len counts as 0), and returns L + 7, the number of bytes to send.
// Payload bytes equal to the start or end pair go out unchanged: there is no escaping.
//   BuildFrame(6, p, 0, out)            -> FA F5 06 00 06 AF 5F                 (CAN Disable)
//   BuildFrame(10, {FF}, 1, out)        -> FA F5 0A 01 FF F4 AF 5F              (Pause on)
//   BuildFrame(8, {03}, 1, out)         -> FA F5 08 01 03 0A AF 5F              (OUT Disable, slot 3)
//   BuildFrame(c, p, 40, out)           -> 39 bytes, length byte 0x20, checksum over what is sent
//
// `out` must hold MaxCommandFrame bytes; `payload` may be null when len <= 0. Never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Frame.h"

namespace frame {
constexpr std::size_t MaxCommandFrame = MaxCommandPayload + Overhead;  // 39
}

std::size_t BuildFrame(uint8_t code, const uint8_t *payload, int len, uint8_t *out);
