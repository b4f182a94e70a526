// How many bit times one classic CAN frame holds the bus: from the start-of-frame bit to the last bit of
// end-of-frame, with the stuff bits this very frame needs, plus the 3-bit intermission before the next
// frame may start. The count the Linux CAN utilities' `canframelen` calls exact: the bus load is the sum
// of these over a second, divided by the bit rate.
//
// The bits a frame carries, in order (stuffing applies from start-of-frame to the last CRC bit):
//   11-bit: SOF, identifier 11, RTR, IDE 0, r0, DLC 4, data 8n, CRC 15                 (34 + 8n bits)
//   29-bit: SOF, base 11, SRR 1, IDE 1, extension 18, RTR, r1, r0, DLC 4, data 8n, CRC 15 (54 + 8n bits)
//   then, never stuffed: CRC delimiter, ACK slot, ACK delimiter, end-of-frame 7, intermission 3 (13 bits)
// The CRC is CRC-15 (polynomial 0x4599, starting at 0) over start-of-frame to the last data bit. After five
// equal bits the sender inserts one of the other value, which counts towards the next run; a fifth equal
// bit at the very end of the CRC is followed by a stuff bit too.
//
// The DLC field carries the length code as the adapter reported it (9..15 go on the wire as they are and
// carry 8 bytes). A remote frame carries its DLC but no data field: it is counted without data bits (where
// `canframelen`, handed a remote frame with a length, also counts data bytes the wire does not carry).
//
// Worked by hand (the figures the tests check):
//   11-bit 0x555, 8 bytes 0x55: SOF..data is 0 10101010101 000 1000 01010101 x8, 83 bits whose longest run
//     is four zeros (the DLC's low three and the first data bit); the CRC comes to 0x1B04 =
//     001101100000100, whose run of five zeros takes one stuff bit. 98 + 1 + 13 = 112.
//   11-bit 0, 8 bytes 0x00: SOF, identifier, RTR, IDE and r0 are fifteen zeros: 3 stuff bits (each a 1, the
//     last one followed by the DLC's 1); then the DLC's 000, 64 data zeros and the CRC 0x145B =
//     001010001011011 begin with 3 + 64 + 2 = 69 zeros: 13 stuff bits; the rest of the CRC has no run of
//     five. 98 + 16 + 13 = 127.
//   29-bit remote 0x1FFFFFFF, length 0: SOF then 32 ones (base 11, SRR, IDE, extension 18, RTR): 6 stuff
//     bits and 2 ones left; r1, r0 and DLC 0000 are six zeros: 1 stuff bit; the CRC 0x6F4D =
//     110111101001101 has no run of five. 54 + 7 + 13 = 74.
//
// Pure arithmetic on the frame's own bits: no allocation, any thread.
#pragma once

#include <cstdint>

#include "BusEvent.h"

namespace busview {

// The longest classic frame: 29-bit, 8 bytes, 131 bits and every stuff bit the rule allows (29).
constexpr int MaxFrameBits = 160;

// `data` is read for the data bytes only (min(dlc, 8) of them, none for a remote frame); the identifier
// is masked to 11 or 29 bits.
int FrameBitsOnWire(uint32_t id, bool extended, bool remote, uint8_t dlc, const uint8_t (&data)[8]);

// A received frame's bits; 0 for anything that is not a frame (a bus error report, a command report).
int FrameBitsOnWire(const BusEvent &event);

}  // namespace busview
