// The frame envelope shared by commands and reports:
//   FA F5 | type | L | L payload bytes | XOR of type, L and payload | AF 5F      (L + 7 bytes)
// Example: "CAN Disable" (type 6, no payload) is FA F5 06 00 06 AF 5F.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace frame {

constexpr uint8_t Start1 = 0xFA;
constexpr uint8_t Start2 = 0xF5;
constexpr uint8_t End1 = 0xAF;
constexpr uint8_t End2 = 0x5F;
constexpr std::size_t Overhead = 7;            // start pair, type, length, checksum, end pair
constexpr std::size_t MaxCommandPayload = 32;  // longer command payloads are cut to this
constexpr std::size_t MaxFrame = 255 + Overhead;
constexpr std::size_t PayloadBufferSize = 256;

// Frame types: 0..10 commands and the adapter's reports on them; 11..13 inbound only.
enum Type : uint8_t {
    AdaptorReady = 0,
    CanInitialization = 1,
    McInitialization = 2,
    OutInitialization = 3,
    TimeInitialization = 4,
    CanDisable = 6,
    McDisable = 7,
    OutDisable = 8,
    Pause = 10,
    CanFrameReport = 11,
    CanFrameReport2 = 12,
    BusErrorReport = 13,
};

}  // namespace frame

// Status line texts of the types 0..10, in order ("Res" for the reserved 5 and 9).
extern const std::array<const char *, 11> StatusTexts;
