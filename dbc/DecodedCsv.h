// Decoded signal values as CSV, one line per value, for the gateway's decoded export:
//
//   time,identifier,message,signal,value,unit,label
//   1733655296.123000,202,ENGINE_DATA,RPM,2000,rpm,
//   1733655296.123000,18FEF1FE,CCVS,Gear,3,,"Drive, 3rd"
//
// time and identifier as a candump log writes them (seconds.microseconds; 3 hex digits for 11-bit, 8 for
// 29-bit); value the physical value (below); label the value table's text or empty. A field with a comma,
// a quote or a line break is quoted, its quotes doubled (RFC 4180).
//
// The value: an integer signal without factor and offset exactly as its raw integer (all 64 bits); one
// with them in fixed point with the digits its factor and offset give (raw 3 x 0.1 -> 0.3, raw 4 x 0.25
// -> 1, raw 7 x 0.25 - 40 -> -38.25); a float signal, or a value of more than 17 digits, as the shortest
// text that reads back as the same double (1.5, 3.4028234663852886e+38, nan).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "CandumpLine.h"
#include "Database.h"
#include "SignalDecode.h"

namespace dbc {

constexpr std::string_view CsvHeader = "time,identifier,message,signal,value,unit,label\n";

// Appends one line, its '\n' included; `out` keeps its capacity between lines, so a reused string stops
// allocating once it has held the longest line.
void AppendCsvLine(std::string &out, candump::Timestamp time, const Message &message, const SignalValue &value);

constexpr std::size_t MaxValueLength = 32;
// The value as AppendCsvLine writes it; returns the length, 0 when out is shorter than MaxValueLength.
std::size_t FormatValue(std::span<char> out, const SignalValue &value);

}  // namespace dbc
