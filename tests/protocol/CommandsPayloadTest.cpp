#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Commands.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Builds into a buffer full of a marker, so a builder that writes past its length shows up.
template <typename F>
Bytes Payload(F build) {
    PayloadBuffer p;
    std::memset(p, 0xCC, sizeof p);
    const int len = build(p);
    for (int i = len; i < static_cast<int>(sizeof p); ++i)
        EXPECT_EQ(p[i], 0xCC) << "written past length at " << i;
    return Bytes(p, p + len);
}

// The window sends whatever the clock says, so the corners of the time of day are checked here.
TEST(CommandPayloads, TimeOfDay) {
    EXPECT_EQ(Payload([](auto &p) { return TimeInitPayload(13, 5, 7, 250, p); }), (Bytes{13, 5, 7, 0, 250}));
    EXPECT_EQ(Payload([](auto &p) { return TimeInitPayload(23, 59, 59, 999, p); }),
              (Bytes{23, 59, 59, 0x03, 0xE7}));
    EXPECT_EQ(Payload([](auto &p) { return TimeInitPayload(0, 0, 0, 256, p); }), (Bytes{0, 0, 0, 1, 0}));
}

TEST(CommandPayloads, OutInitializationLayoutAndZeroFill) {
    const uint8_t data[8] = {0xFF, 0x7B, 0x4A, 0xE8, 0xAD, 0x11, 0x22, 0x33};  // only five are sent
    EXPECT_EQ(
        Payload([&](auto &p) {
            return OutInitPayload(0, 200, 3, EncodeId(0x2B6, false, true), InfoByte(5, false), data, 5, p);
        }),
        (Bytes{0x00, 0x00, 0xC8, 0x03, 0x56, 0xC0, 0x00, 0x00, 0x05, 0xFF, 0x7B, 0x4A, 0xE8, 0xAD, 0, 0, 0}));
    // An out-of-range count never reads or writes past the eight data positions.
    const Bytes b = Payload([&](auto &p) { return OutInitPayload(7, 0, 1, {}, 8, data, 12, p); });
    EXPECT_EQ(Bytes(b.begin() + 9, b.end()), Bytes(data, data + 8));
    EXPECT_EQ(b[0], 7);
}

}  // namespace
