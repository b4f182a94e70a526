// Payloads of the commands the program sends. Each builder fills the start of a 256-byte payload
// buffer and returns the payload length to hand to the encoder; bytes past that length are left alone.
// Two-byte numbers go high byte first.
//
//   TimeInitPayload(13, 5, 7, 250)            -> 0D 05 07 00 FA            (code 4)
//   CanInitPayload({02,00,5E}, 2, 0)          -> 02 00 5E 02 32 00         (code 1, 250 kbps, normal, high)
//   McInitPayload(7FF/7FF coded 11-bit, true) -> 00 FF E0 00 00 FF E0 00 00 08   (code 2)
//   OutInitPayload(0, 200, 3, 2B6 coded, 5, {FF 7B 4A E8 AD})
//                                             -> 00 00 C8 03 56 C0 00 00 05 FF 7B 4A E8 AD 00 00 00   (code
//                                             3)
//   OutDisablePayload(3) -> 03 (code 8);  McDisablePayload -> 00 (code 7);  PausePayload(true) -> FF (code
//   10)
#pragma once

#include <cstddef>
#include <cstdint>

#include "Frame.h"
#include "IdCoding.h"

using PayloadBuffer = uint8_t[frame::PayloadBufferSize];

constexpr int NumTransmitSlots = 8;
constexpr int MaxDataBytes = 8;

// Payload lengths (the length byte) of the commands, as the builders below write them and as the
// adapter needs them at least to act on a command.
constexpr std::size_t TimeInitLength = 5;
constexpr std::size_t CanInitLength = 6;
constexpr std::size_t McInitLength = 10;
constexpr std::size_t OutInitLength = 17;
constexpr std::size_t OutDisableLength = 1;
constexpr std::size_t McDisableLength = 1;
constexpr std::size_t PauseLength = 1;

constexpr uint8_t CanInitFixedByte = 0x32;
constexpr uint8_t PauseOn = 0xFF;
constexpr uint8_t PauseOff = 0x00;

constexpr uint8_t TransceiverHighSpeed = 0;
constexpr uint8_t TransceiverLowSpeed = 1;

// Flags byte of OUT Initialization: bit 0 always, bit 1 periodic, bit 3 report the sent frame back.
constexpr uint8_t FlagAlways = 0x01;
constexpr uint8_t FlagPeriodic = 0x02;
constexpr uint8_t FlagShowFrame = 0x08;
uint8_t TransmitFlags(bool periodic, bool showFrame);

// Data length in bits 3..0, 0x10 for the 29-bit form. 5, false -> 05; 0, true -> 10.
uint8_t InfoByte(int count, bool extended);

// The millisecond goes as two bytes, high first: 999 -> 03 E7.
int TimeInitPayload(int hour, int minute, int second, int millisecond, PayloadBuffer &out);

int CanInitPayload(const TimingBytes &timing, uint8_t mode, uint8_t transceiver, PayloadBuffer &out);

// The last byte has the form of an info byte for eight data bytes: 08 for 11-bit, 18 for 29-bit.
int McInitPayload(const IdBytes &tag, const IdBytes &mask, bool standard, PayloadBuffer &out);

// Always 17 bytes. The period goes as (period / 256, period % 256), each kept to 8 bits, with C++'s
// truncating division: 65535 -> FF FF, 65536 -> 00 00, -1 -> 00 FF, -300 -> FF D4.
// `count` is taken as 0..8; the data positions after the last byte are zero.
int OutInitPayload(uint8_t slot, int32_t period, uint8_t flags, const IdBytes &id, uint8_t info,
                   const uint8_t *data, int count, PayloadBuffer &out);

int OutDisablePayload(uint8_t slot, PayloadBuffer &out);
int McDisablePayload(PayloadBuffer &out);
int PausePayload(bool paused, PayloadBuffer &out);
