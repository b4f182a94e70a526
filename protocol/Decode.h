// Acting on one inbound frame: the adapter's CAN frame reports, bus error reports and reports on
// commands. The decoder checks the envelope and checksum and hands what it finds to a sink; it touches
// no window and no link, so it can run on any thread and be fuzzed.
//
// CAN frame report (types 11 and 12, handled alike), fields at fixed offsets from the first start byte:
//   5 hour, 6 minute, 7 second, 8..9 millisecond (high byte first), 10..13 ID1..ID4, 14 info,
//   15..22 data bytes 0..7.
//   FA F5 0B 13 00 0C 22 38 03 E7 24 60 00 00 02 11 22 00 00 00 00 00 00 9F AF 5F
//     -> CanFrame(12, 34, 56, 999, 0x123, info 02, data 11 22 00 00 00 00 00 00)
// Bus error report (type 13): flags at offset 4 (0x08 stuff, 0x04 CRC, 0x02 form, 0x01 ack).
//   FA F5 0D 01 0C 00 AF 5F -> BusError(0x0C)
// Report on a command (types 0..10): CommandReport(type).   FA F5 0A 00 0A AF 5F -> CommandReport(10)
// Types 14..255 are ignored.
//
// A frame with wrong start bytes or a checksum (XOR of bytes 2..L+4) other than 0 is dropped, and so is
// a CAN frame report while paused or with an impossible time of day. Dropped frames reach no sink call.
// The fields are read at their offsets whatever the length byte says; bytes past a short frame's end
// read as 0.
#pragma once

#include <cstdint>

#include "Reassembly.h"

class DecodeSink {
public:
    virtual ~DecodeSink() = default;
    virtual void CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier,
                          uint8_t Info, const uint8_t (&Data)[8]) = 0;
    // The decoder's call: the same frame with the remote bit of its ID4. By default it goes to CanFrame
    // above, for sinks that show only the identifier and data; a log or a bus mirror takes this one.
    virtual void CanFrameWithRemote(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier,
                                    uint8_t Info, bool Remote, const uint8_t (&Data)[8]) {
        (void)Remote;
        CanFrame(Hour, Minute, Second, Millisecond, Identifier, Info, Data);
    }
    virtual void BusError(uint8_t Flags) = 0;
    // Type 0..10: the status line becomes "  " followed by StatusTexts[Type].
    virtual void CommandReport(uint8_t Type) = 0;
    // After the last frame of one batch (one read of the link), also when it held no frame: what the sink
    // gathered may go out now (a window update, a log's lines).
    virtual void EndOfPump() {}
};

// XOR of bytes 2..L+4 of a frame (L = byte 3); 0 for an intact frame.
uint8_t FrameChecksum(const FrameBuffer &Msg);

// Paused is the display's pause state as it stands for this frame.
void DecodeMessage(const FrameBuffer &Msg, bool Paused, DecodeSink &Sink);
