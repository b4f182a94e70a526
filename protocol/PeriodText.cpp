#include "PeriodText.h"

#include "unitMy.h"

bool PeriodFromText(std::string_view text, int32_t &period) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    auto isX = [&](std::size_t at) { return at < text.size() && (text[at] == 'x' || text[at] == 'X'); };
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || isX(i))) {
        hex = true;
        i += 1;
    } else if (i < text.size() && text[i] == '0' && isX(i + 1)) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return false;  // no digits at all

    // 64 bits hold any 32-bit value times 16 plus a digit, so one check per digit is enough.
    uint64_t value = 0;
    const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (hex ? !IsHexDigit(c) : (c < '0' || c > '9')) return false;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(hex ? HexDigitValue(c) : c - '0');
        if (value > limit) return false;
    }
    uint32_t bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    period = static_cast<int32_t>(bits);
    return true;
}
