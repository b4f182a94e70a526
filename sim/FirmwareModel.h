// The adapter's reading of the command payloads that change its state, kept free of threads and I/O.
// Each decoder takes the payload (frame offset 4 onwards) and its length byte; a payload too short for
// its fields is refused (false) and the firmware then answers the command without acting on it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "BusFrame.h"
#include "Commands.h"
#include "IdCoding.h"

// The acceptance filter of MC Initialization: 00 | tag ID1..ID4 | mask ID1..ID4 | form.
// Tag and mask are decoded with DecodeId, the form byte standing in as their info byte: bit 4 (0x10)
// alone picks the 29-bit form (the host sends 08 or 18), so the remote bit and the bits the layout keeps
// zero never count. A mask bit of 1 means "this identifier bit must equal the tag's".
// A frame passes when its form is the filter's and (identifier & mask) == (tag & mask):
//   00 FF E0 00 00 FF E0 00 00 08 -> 11-bit, tag 7FF, mask 7FF: 11-bit 7FF passes; 7FE and 29-bit 7FF do not
//   00 00 00 3F F8 00 00 3F F8 18 -> 29-bit, tag 7FF, mask 7FF: 29-bit 1234A7FF passes; 11-bit 7FF does not
// Until the first MC Initialization the adapter takes every frame (acceptAll).
struct AcceptanceFilter {
    bool acceptAll = true;
    bool extended = false;
    uint32_t tag = 0;
    uint32_t mask = 0;
    bool Accepts(const BusFrame &frame) const;
    bool operator==(const AcceptanceFilter &) const = default;
};
bool FilterFromPayload(const uint8_t *payload, std::size_t length, AcceptanceFilter &filter);

// CAN Initialization: T1 T2 T3 | mode | 32 | transceiver. Mode bit 3 (value 8; the host sends 2 or 10)
// is listening: the adapter receives but never transmits.
struct BusSettings {
    TimingBytes timing = TimingBytesForRow(DefaultBitRateRow);
    uint8_t mode = ModeNormal;
    uint8_t transceiver = 0;
    bool Listening() const { return (mode & 0x08) != 0; }
    bool operator==(const BusSettings &) const = default;
};
bool BusSettingsFromPayload(const uint8_t *payload, std::size_t length, BusSettings &settings);
// Bits per second the timing bytes give: every row of the host's table assumes an 8 MHz controller
// clock, 8 MHz / ((p0 + 1) * (1 + (p1 + 1) + (p2 + 1) + (p3 + 1))). 02 00 5E -> 250000; 00 00 24 -> 1000000.
uint32_t BitRateFromTiming(const TimingBytes &timing);

// OUT Initialization: slot | period high, low | flags | ID1..ID4 | info | 8 data bytes.
//   00 03 E8 0B 00 00 09 18 18 11 22 .. 88 -> slot 0, every 1000 ms, shown back, 29-bit 123, 8 bytes
// The frame is rebuilt from the ID bytes with DecodeId; the remote bit is ID4's value 4. A length code
// above 8 carries 8 bytes (classic CAN), and a remote frame carries none: its data is zero.
// Flags without bit 0 set the slot up stopped. A periodic slot with period 0 is sent once: a zero
// period would otherwise flood the bus and the link.
struct SlotSetup {
    uint8_t slot = 0;
    bool enabled = false;
    bool periodic = false;
    bool showFrame = false;
    std::chrono::milliseconds period{0};
    BusFrame frame;
};
// False also for a slot number above 7.
bool SlotFromPayload(const uint8_t *payload, std::size_t length, SlotSetup &setup);
