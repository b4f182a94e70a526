// The transmit period's text against a plain reading of its rules, and back: a period that parses
// prints (in decimal and as $ hex) to a text that parses to the same period.
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "PeriodText.h"

namespace {

// Spaces, sign, then digits after an optional $, x, X, 0x or 0X; nothing after the digits.
bool Reference(std::string_view t, int32_t &out) {
    std::size_t i = t.find_first_not_of(' ');
    if (i == std::string_view::npos) return false;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    std::string_view rest = t.substr(i);
    int base = 10;
    if (rest.substr(0, 1) == "$" || rest.substr(0, 1) == "x" || rest.substr(0, 1) == "X") {
        base = 16;
        rest.remove_prefix(1);
    } else if (rest.substr(0, 2) == "0x" || rest.substr(0, 2) == "0X") {
        base = 16;
        rest.remove_prefix(2);
    }
    if (rest.empty()) return false;
    unsigned __int128 v = 0;
    for (char c : rest) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    if (base == 10 && v > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return false;
    uint32_t bits = static_cast<uint32_t>(v);
    if (negative) bits = 0u - bits;
    out = static_cast<int32_t>(bits);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string owned(reinterpret_cast<const char *>(data), size);
    int32_t period = 12345, expected = 12345;
    const bool ok = PeriodFromText(owned, period);
    FUZZ_CHECK(ok == Reference(owned, expected));
    FUZZ_CHECK(period == expected);  // unchanged on failure
    if (ok) {
        int32_t again = 0;
        FUZZ_CHECK(PeriodFromText(std::to_string(period), again) && again == period);
        char hex[16];
        std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(period));
        FUZZ_CHECK(PeriodFromText(hex, again) && again == period);
    }
    return 0;
}
