// One thing the adapter reported, as every consumer of the receive path sees it: a received CAN frame, a
// bus error report or a report on a command, with the adapter's own time stamp where it gave one and the
// PC's clock at arrival. A plain value of fixed size: consumers get them in batches (one per read of the
// link) and copy them into fixed rings; nothing about one is ever allocated.
//
//   FA F5 0B 13 00 0C 22 38 03 E7 24 60 00 00 02 11 22 ... 9F AF 5F  (a CAN frame report, 12:34:56.999)
//     -> { kind Frame, id 0x123, extended false, remote false, info 02, dlc 2, data 11 22 00..,
//          adapterMs 45296999 }
#pragma once

#include <cstdint>

struct BusEvent {
    enum class Kind : uint8_t {
        Frame,          // a CAN frame the adapter received (or, with `transmitted`, one it sent for us)
        BusError,       // a bus error report: `errorFlags`
        CommandReport,  // the adapter's report on a command: `reportType` 0..10
    };

    // Adapter time stamps are times of day: 0 .. MsPerDay - 1.
    static constexpr int32_t MsPerDay = 24 * 3600 * 1000;

    Kind kind = Kind::Frame;
    bool extended = false;     // 29-bit identifier (2.0B); else 11-bit (2.0A)
    bool remote = false;       // remote transmission request: no data on the wire
    bool transmitted = false;  // sent by this program (the mirror), not received
    uint8_t info = 0;          // Frame: the info byte as the adapter gave it (length, 0x10 for 29-bit, ...)
    uint8_t dlc = 0;           // the length code: the info byte's bits 3..0 (over 8 means 8 bytes)
    uint8_t data[8]{};         // bytes past the length are 0
    uint8_t errorFlags = 0;    // BusError: 0x08 stuff, 0x04 CRC, 0x02 form, 0x01 ack
    uint8_t reportType = 0;    // CommandReport: the command's code
    uint32_t id = 0;           // masked to 11 or 29 bits
    int32_t adapterMs = -1;    // Frame: the adapter's time of day in ms; -1 where the report has none
    int64_t arrivalUs = 0;     // the PC's clock (microseconds since the epoch) when the read returned
    // The adapter's clock was set by this program since the adapter was plugged in: adapterMs is then a
    // time of day of the PC's clock (the log believes it; see LogClock).
    bool adapterClockSet = false;

    // The number of data bytes the frame carries on the wire: 0 for a remote frame.
    int DataLength() const { return remote ? 0 : (dlc > 8 ? 8 : dlc); }
    // The number of data bytes to show or log: the length code capped at 8 (a remote frame asks for them).
    int LengthField() const { return dlc > 8 ? 8 : dlc; }
};

// Adapter time stamps a and b (b later) apart, in ms, across midnight: 23:59:59.990 -> 00:00:00.010 is 20.
constexpr int32_t AdapterMsBetween(int32_t a, int32_t b) {
    const int32_t d = b - a;
    return d < 0 ? d + BusEvent::MsPerDay : d;
}
