// The layout of a CAN frame report (types 11 and 12), the adapter's account of one frame on its bus.
// Fields stand at fixed offsets from the first start byte; the decoder reads them there, and the
// emulated adapter writes them there:
//   4 unused (0), 5 hour, 6 minute, 7 second, 8..9 millisecond (high byte first), 10..13 ID1..ID4,
//   14 info (data length in bits 3..0, 0x10 for 29-bit), 15..22 data bytes 0..7.
//   12:34:56.999, 11-bit 0x123 (24 60 00 00), info 02, data 11 22
//     -> FA F5 0B 13 00 0C 22 38 03 E7 24 60 00 00 02 11 22 00 00 00 00 00 00 9F AF 5F
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "Frame.h"
#include "IdCoding.h"

namespace canreport {
constexpr std::size_t Hour = 5, Minute = 6, Second = 7, Millisecond = 8, Id = 10, Info = 14, Data = 15;
constexpr uint8_t PayloadLength = 19;
}  // namespace canreport

constexpr std::size_t CanReportSize = canreport::PayloadLength + frame::Overhead;  // 26
using CanReport = std::array<uint8_t, CanReportSize>;

// A type 11 report. Each time field is kept to its byte(s); data bytes past `info`'s length are sent
// as they are given.
CanReport BuildCanFrameReport(int hour, int minute, int second, int millisecond, const IdBytes &id,
                              uint8_t info, const std::array<uint8_t, 8> &data);
