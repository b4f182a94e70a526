// Acting on one inbound frame: the adapter's CAN frame reports, bus error reports and reports on
// commands. The decoder checks the envelope and checksum and hands what it finds to a sink; it touches
// no window and no link, so it can run on any thread and be fuzzed.
//
// CAN frame report (types 11 and 12, handled alike), fields at fixed offsets from the first start byte:
//   5 hour, 6 minute, 7 second, 8..9 millisecond (high byte first), 10..13 ID1..ID4, 14 info,
//   15..22 data bytes 0..7.
//   FA F5 0B 13 00 0C 22 38 03 E7 24 60 00 00 02 11 22 00 00 00 00 00 00 9F AF 5F
//     -> Frame, 12:34:56.999 (adapterMs 45296999), 0x123, info 02, data 11 22 00 00 00 00 00 00
// Bus error report (type 13): flags at offset 4 (0x08 stuff, 0x04 CRC, 0x02 form, 0x01 ack).
//   FA F5 0D 01 0C 00 AF 5F -> BusError, errorFlags 0x0C
// Report on a command (types 0..10).   FA F5 0A 00 0A AF 5F -> CommandReport, reportType 10
// Types 14..255 are ignored.
//
// A frame with wrong start bytes or a checksum (XOR of bytes 2..L+4) other than 0 is dropped, and so is
// a CAN frame report while paused or with an impossible time of day.
// The fields are read at their offsets whatever the length byte says; bytes past a short frame's end
// read as 0.
#pragma once

#include <cstdint>

#include "BusEvent.h"
#include "Reassembly.h"

// What became of one frame.
enum class Decoded {
    Event,        // `out` holds what the frame reported
    Dropped,      // dropped as the rules say: paused, an impossible time, a type the program ignores
    BadChecksum,  // start pair or checksum wrong: the frame was damaged on its way
};

// XOR of bytes 2..L+4 of a frame (L = byte 3); 0 for an intact frame.
uint8_t FrameChecksum(const FrameBuffer &Msg);

// Paused is the display's pause state as it stands for this frame. On Event, `out`'s kind, identifier,
// flags, info, length, data, error flags or report type and adapter time are set; the caller's arrival
// time and clock state are left as they were.
Decoded DecodeMessage(const FrameBuffer &Msg, bool Paused, BusEvent &out);
