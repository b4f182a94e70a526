#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

#include "Encoder.h"
#include "unitMy.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Build(uint8_t code, const Bytes &payload, int len) {
    std::array<uint8_t, frame::MaxCommandFrame + 8> out;
    out.fill(0xCC);
    const std::size_t n = BuildFrame(code, payload.data(), len, out.data());
    EXPECT_LE(n, frame::MaxCommandFrame);
    for (std::size_t i = n; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCC) << "written past the frame at " << i;
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

struct Row {
    const char *name;
    uint8_t code;
    Bytes payload;
    Bytes frame;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

class EncoderRows : public ::testing::TestWithParam<Row> {};

TEST_P(EncoderRows, BuildsTheWholeFrame) {
    const Row &r = GetParam();
    EXPECT_EQ(Build(r.code, r.payload, static_cast<int>(r.payload.size())), r.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EncoderRows,
    ::testing::Values(Row{"CanDisable", 6, {}, {0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F}},
                      Row{"AdaptorReady", 0, {}, {0xFA, 0xF5, 0x00, 0x00, 0x00, 0xAF, 0x5F}},
                      Row{"PauseOn", 10, {0xFF}, {0xFA, 0xF5, 0x0A, 0x01, 0xFF, 0xF4, 0xAF, 0x5F}},
                      Row{"PauseOff", 10, {0x00}, {0xFA, 0xF5, 0x0A, 0x01, 0x00, 0x0B, 0xAF, 0x5F}},
                      Row{"McDisable", 7, {0x00}, {0xFA, 0xF5, 0x07, 0x01, 0x00, 0x06, 0xAF, 0x5F}},
                      Row{"OutDisableSlot0", 8, {0x00}, {0xFA, 0xF5, 0x08, 0x01, 0x00, 0x09, 0xAF, 0x5F}},
                      Row{"OutDisableSlot3", 8, {0x03}, {0xFA, 0xF5, 0x08, 0x01, 0x03, 0x0A, 0xAF, 0x5F}},
                      Row{"OutDisableSlot7", 8, {0x07}, {0xFA, 0xF5, 0x08, 0x01, 0x07, 0x0E, 0xAF, 0x5F}},
                      Row{"CanInitDefaults",
                          1,
                          {0x02, 0x00, 0x5E, 0x02, 0x32, 0x00},
                          {0xFA, 0xF5, 0x01, 0x06, 0x02, 0x00, 0x5E, 0x02, 0x32, 0x00, 0x6B, 0xAF, 0x5F}},
                      Row{"TimeInit",
                          4,
                          {13, 5, 7, 0, 250},
                          {0xFA, 0xF5, 0x04, 0x05, 0x0D, 0x05, 0x07, 0x00, 0xFA, 0xF4, 0xAF, 0x5F}},
                      // Start and end pairs inside the payload are not escaped.
                      Row{"EnvelopeBytesInPayload",
                          3,
                          {0xFA, 0xF5, 0xAF, 0x5F},
                          {0xFA, 0xF5, 0x03, 0x04, 0xFA, 0xF5, 0xAF, 0x5F, 0xF8, 0xAF, 0x5F}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Encoder, CutsLongPayloadsTo32AndChecksumsOnlyWhatIsSent) {
    Bytes payload(40);
    std::iota(payload.begin(), payload.end(), uint8_t{1});
    const Bytes f = Build(2, payload, 40);
    ASSERT_EQ(f.size(), 39u);
    EXPECT_EQ(f[3], 0x20);
    EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 36), Bytes(payload.begin(), payload.begin() + 32));
    uint8_t x = 0;
    for (std::size_t i = 2; i < 36; ++i) x ^= f[i];
    EXPECT_EQ(f[36], x);
    EXPECT_EQ(f[37], 0xAF);
    EXPECT_EQ(f[38], 0x5F);
    // The receiver's check: XOR over type .. checksum is zero.
    EXPECT_EQ(XorChecksum(f.data(), 2, 36), 0);
}

TEST(Encoder, ExactlyThirtyTwoIsNotCutAndNegativeLengthSendsNoPayload) {
    Bytes payload(32, 0x55);
    EXPECT_EQ(Build(1, payload, 32).size(), 39u);
    EXPECT_EQ(Build(6, {}, -5), (Bytes{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F}));
}

}  // namespace
