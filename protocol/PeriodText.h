// The transmit period as the operator types it, in milliseconds.
//
// Accepted: leading spaces (the space character only), an optional + or -, then either decimal digits
// whose signed value fits in 32 bits, or hex digits worth at most 32 bits after $, x, X, 0x or 0X
// (a hex value is taken as the 32-bit pattern, then the sign applies). Nothing may follow the digits.
//   "200" -> 200    "  200" -> 200    "$C8", "0XC8", "xc8" -> 200    "-300" -> -300    "$FFFFFFFF" -> -1
//   "2147483647" ok, "-2147483648" ok, "2147483648" fails
//   "", "   ", "+", "-", "$", "0x", "200 ", "\t200", "- 2", "2e3", "$100000000" fail
// On failure `period` is left unchanged.
#pragma once

#include <cstdint>
#include <string_view>

bool PeriodFromText(std::string_view text, int32_t &period);
