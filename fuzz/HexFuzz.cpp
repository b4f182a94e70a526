// HexToInt and ParseHexBytes on arbitrary text, against the digit-by-digit rules: a non-digit is a 0
// digit for HexToInt and a separator for ParseHexBytes; never more than eight bytes.
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "unitMy.h"

namespace {

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // A copy of exactly the input's size, so a read past the text's end is caught.
    const std::string owned(reinterpret_cast<const char *>(data), size);
    const std::string_view text(owned);

    uint32_t value = 0;
    for (char c : text) value = value * 16 + static_cast<uint32_t>(Digit(c) < 0 ? 0 : Digit(c));
    FUZZ_CHECK(HexToInt(text) == value);

    std::vector<uint8_t> groups;  // every byte group of the text, the ninth and later included
    int pending = -1;
    for (char c : text) {
        const int d = Digit(c);
        if (d >= 0 && pending < 0) {
            pending = d;
        } else if (d >= 0) {
            groups.push_back(static_cast<uint8_t>(pending * 16 + d));
            pending = -1;
        } else if (pending >= 0) {
            groups.push_back(static_cast<uint8_t>(pending));
            pending = -1;
        }
    }
    if (pending >= 0) groups.push_back(static_cast<uint8_t>(pending));
    const int expectedCount = groups.size() < 8 ? static_cast<int>(groups.size()) : 8;
    groups.resize(8, 0);

    uint8_t bytes[8];
    for (auto &b : bytes) b = 0xA5;  // must all be overwritten
    const int n = ParseHexBytes(text, bytes);
    FUZZ_CHECK(n >= 0 && n <= 8);
    FUZZ_CHECK(n == expectedCount);
    for (int i = 0; i < 8; ++i) FUZZ_CHECK(bytes[i] == groups[static_cast<std::size_t>(i)]);
    return 0;
}
