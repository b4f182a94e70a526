// A frame's data bytes to the physical values of its message's signals.
//
// The 8 data bytes are read twice as one 64-bit word: little-endian (byte 0 lowest) for Intel signals,
// big-endian (byte 0 highest) for Motorola ones; each signal is then one shift and one mask, worked out
// when the file was read (Signal::shift, mask). Bits are numbered 8 * byte + bit, bit 0 the least
// significant of its byte; an Intel signal runs upward from its start bit, a Motorola signal runs from its
// start bit (its most significant bit) down through its byte and on at bit 7 of the next byte.
//
//   data 11 22 33 44 55 66 77 88
//   Intel    start 0  length 16  -> bytes 0..1 little-endian: 0x2211
//   Intel    start 12 length 8   -> byte 1 bits 4..7, byte 2 bits 0..3: 0x32
//   Motorola start 7  length 16  -> bytes 0..1 big-endian: 0x1122
//   Motorola start 3  length 8   -> byte 0 bits 3..0, byte 1 bits 7..4: 0x12
//   Motorola start 39 length 12  -> byte 4, byte 5 bits 7..4: 0x556
//   signed, length 8, raw 0xF0   -> -16;   factor 0.25, offset -40, raw 200 -> 10
//   float (SIG_VALTYPE_ 1), Intel start 0 length 32, data 00 00 C0 3F -> 1.5
//
// Nothing here allocates: the caller gives an output array, sized once with Database::MostSignals().
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "BusEvent.h"
#include "Database.h"

namespace dbc {

struct SignalValue {
    const Signal *signal = nullptr;
    double value = 0;    // physical: raw * factor + offset (a float signal's raw is its float value)
    uint64_t raw = 0;    // the raw bits; a signed signal's sign-extended to 64 bits
    std::string_view label;  // the value table's text for the raw value; empty when none
    bool outOfRange = false;  // outside [minimum, maximum] of a signal that has a range
};

struct Decoded {
    const Message *message = nullptr;  // null: no message in the database has the frame's identifier
    int values = 0;                    // written to the front of the output array
    // Signals the frame should carry that are not in `values`: the frame is shorter than they need (or
    // than its multiplexer needs), or the output array was too short.
    int missing = 0;
};

// The signals of `message` in data[0..dataLength), in the file's order; a multiplexed signal only when
// the multiplexer's raw value selects it. Bytes past dataLength are not read.
Decoded DecodeMessage(const Message &message, const uint8_t (&data)[8], int dataLength,
                      std::span<SignalValue> out);

// One signal of `message` in data[0..dataLength), as DecodeMessage would give it: false (and `out` as it
// was) when the frame does not carry it: too short, or a multiplexed signal its multiplexer does not select.
// For a consumer that wants a few signals of many frames (the plot) without decoding the rest.
bool DecodeSignal(const Message &message, const Signal &signal, const uint8_t (&data)[8], int dataLength,
                  SignalValue &out);

// A received frame: its message by identifier, then DecodeMessage. A remote frame, a bus error or a
// command report gives no values (and message null for the latter two).
Decoded DecodeFrame(const Database &database, const BusEvent &event, std::span<SignalValue> out);

// The raw value of one signal (see above), without factor or offset.
uint64_t RawValue(const Signal &signal, const uint8_t (&data)[8]);

}  // namespace dbc
