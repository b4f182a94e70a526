// The texts of the receive list's cells, shared by the window and the terminal table, each written into a
// caller's buffer (cut short to fit, NUL-terminated) with its length returned:
//   identifier   "000002B6"  eight capital hex digits, as the main window writes it; "others" for OtherRow
//   form         "11-bit", "29-bit", "11-bit remote", "29-bit remote"
//   data         "11 22 33"  the bytes the frame carried; "" for a remote frame
//   cycle        "100.0"     mean period in ms; "" until two stamped frames were seen
//   jitter       "98 / 102"  the shortest and longest of those periods in ms
//   last seen    "0.4"       seconds since the frame's read returned
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ReceiveTable.h"

namespace busview {

// Room for any of the cells above.
constexpr std::size_t CellTextSize = 32;

std::size_t FormatIdentifier(std::span<char> out, const FrameRow &row);
const char *FormText(const FrameRow &row);
std::size_t FormatData(std::span<char> out, const FrameRow &row);
std::size_t FormatCycle(std::span<char> out, const CycleStats &cycle);
std::size_t FormatJitter(std::span<char> out, const CycleStats &cycle);
std::size_t FormatSince(std::span<char> out, int64_t sinceUs);
// "stuff error", "CRC error", "form error", "ack error", "bus error without a kind"
const char *ErrorKindText(ErrorKind kind);

}  // namespace busview
