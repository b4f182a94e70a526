// The frame envelope shared by commands and reports:
//   FA F5 | type | L | L payload bytes | XOR of type, L and payload | AF 5F      (L + 7 bytes)
// Example: "CAN Disable" (type 6, no payload) is FA F5 06 00 06 AF 5F.
// Both sides of the link use what is here: the program's encoder and receive path, and the emulated
// adapter's firmware and command log.
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
constexpr std::size_t MaxPayload = 255;
constexpr std::size_t MaxFrame = MaxPayload + Overhead;
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

// XOR of bytes 2 .. L + 4 of a whole frame (type, length, payload and checksum): 0 for an intact one.
//   FA F5 06 00 06 AF 5F -> 00;   FA F5 06 00 07 AF 5F -> 01
uint8_t Checksum(const uint8_t *frame);

// Writes type, L = length, the payload, its checksum and both pairs to out, which must hold
// length + 7 bytes; returns length + 7. `payload` may be null when length is 0. Never allocates.
// Payload bytes equal to the start or end pair go out unchanged: there is no escaping.
//   BuildEnvelope(10, {FF}, 1, out) -> FA F5 0A 01 FF F4 AF 5F
std::size_t BuildEnvelope(uint8_t type, const uint8_t *payload, uint8_t length, uint8_t *out);

// What the bytes at `at` are, `available` (at least 1) of them counted from there. A frame is known
// by its start pair, its length byte and its end pair alone; checksum and type are not looked at.
//   Whole      all of a frame is there; `size` is its length, L + 7
//   Partial    what is there could still begin a frame: FA; FA F5; FA F5 t; or FA F5 t L with fewer
//              than L + 7 bytes available
//   NotAFrame  no frame starts here
//   FA F5 06 00 06 AF 5F (7) -> Whole, 7;  FA F5 0A 01 FF (5) -> Partial;  FA F5 06 00 06 00 00 -> NotAFrame
struct Match {
    enum Kind : uint8_t { NotAFrame, Partial, Whole } kind;
    std::size_t size;
};
inline Match MatchAt(const uint8_t *at, std::size_t available) {
    if (at[0] != Start1) return {Match::NotAFrame, 0};
    if (available < 2) return {Match::Partial, 0};
    if (at[1] != Start2) return {Match::NotAFrame, 0};
    if (available < 4) return {Match::Partial, 0};
    const std::size_t length = at[3];
    const std::size_t size = length + Overhead;
    if (size > available) return {Match::Partial, 0};
    if (at[length + 5] != End1 || at[length + 6] != End2) return {Match::NotAFrame, 0};
    return {Match::Whole, size};
}

}  // namespace frame

// A bus error report (type 13) carries its flags at offset 4, one bit for each kind of error.
constexpr std::size_t BusErrorFlags = 4;
namespace buserror {
constexpr uint8_t StuffBit = 0x08, CrcBit = 0x04, FormBit = 0x02, AckBit = 0x01;
}

// Status line texts of the types 0..10, in order ("Res" for the reserved 5 and 9).
extern const std::array<const char *, 11> StatusTexts;
