// Frames decoded bit by bit against values worked out by hand (each row's comment shows the working).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CountingNew.h"
#include "DbcReader.h"
#include "DecodedCsv.h"
#include "SignalDecode.h"

namespace {

constexpr const char *HandWorked = R"(VERSION "hand-worked"
BU_: ECU DASH
BO_ 291 CROSS: 8 ECU
 SG_ IntelCross : 12|8@1+ (1,0) [0|0] "" DASH
 SG_ MotoCross : 3|8@0+ (1,0) [0|0] "" DASH
 SG_ Moto12 : 39|12@0+ (1,0) [0|0] "" DASH
 SG_ Top : 63|1@1+ (1,0) [0|0] "" DASH
 SG_ Low : 0|1@0+ (1,0) [0|0] "" DASH
 SG_ Temp : 0|16@1+ (0.25,-40) [-40|100] "degC" DASH
BO_ 2566844926 WIDE: 8 ECU
 SG_ Intel64 : 0|64@1+ (1,0) [0|0] "" DASH
 SG_ Moto64 : 7|64@0- (1,0) [0|0] "" DASH
BO_ 512 SIGNED: 3 ECU
 SG_ S8 : 0|8@1- (1,0) [0|0] "" DASH
 SG_ S12 : 11|12@0- (0.5,0) [0|0] "" DASH
 SG_ Gear : 16|4@1+ (1,0) [0|15] "" DASH
BO_ 513 FLOATS: 8 ECU
 SG_ F : 0|32@1- (1,0) [0|0] "" DASH
 SG_ FM : 39|32@0- (2,0) [0|0] "" DASH
BO_ 514 DOUBLE: 8 ECU
 SG_ D : 0|64@1- (1,0) [0|0] "" DASH
BO_ 515 MUX: 4 ECU
 SG_ Sel M : 0|8@1+ (1,0) [0|0] "" DASH
 SG_ Volts m1 : 8|16@1+ (0.1,0) [0|0] "V" DASH
 SG_ Temp m2 : 8|8@1- (1,-40) [0|0] "degC" DASH
 SG_ Count : 24|8@1+ (1,0) [0|0] "" DASH
VAL_ 512 Gear 0 "Park" 1 "Reverse" 3 "Drive, 3rd" ;
SIG_VALTYPE_ 513 F : 1;
SIG_VALTYPE_ 513 FM : 1;
SIG_VALTYPE_ 514 D : 2;
)";

struct Row {
    const char *what;
    uint32_t id;
    bool extended;
    std::vector<uint8_t> data;
    const char *values;  // name=value[label], '!' when out of range; "(missing n)"
};

class Decode : public ::testing::TestWithParam<Row> {};

TEST_P(Decode, GivesTheHandWorkedValues) {
    static const auto loaded = dbc::ParseDbc(HandWorked, "hand.dbc");
    ASSERT_TRUE(loaded.database) << loaded.error;
    ASSERT_TRUE(loaded.database->skipped.empty()) << loaded.database->skipped[0].text;
    const Row &row = GetParam();
    BusEvent frame;
    frame.id = row.id;
    frame.extended = row.extended;
    frame.dlc = static_cast<uint8_t>(row.data.size());
    std::copy(row.data.begin(), row.data.end(), frame.data);
    std::vector<dbc::SignalValue> out(loaded.database->MostSignals());

    counting = true;
    const dbc::Decoded d = dbc::DecodeFrame(*loaded.database, frame, out);
    counting = false;
    EXPECT_EQ(allocations.exchange(0), 0) << "decoding allocates nothing";

    ASSERT_TRUE(d.message);
    std::string text;
    for (int i = 0; i < d.values; ++i) {
        char value[dbc::MaxValueLength];
        const dbc::SignalValue &v = out[static_cast<std::size_t>(i)];
        text += (i ? " " : "") + v.signal->name + "=" + std::string(value, dbc::FormatValue(value, v));
        if (!v.label.empty()) text += "[" + std::string(v.label) + "]";
        if (v.outOfRange) text += "!";
    }
    if (d.missing) text += " (missing " + std::to_string(d.missing) + ")";
    EXPECT_EQ(text, row.values);
}

using B = std::vector<uint8_t>;
INSTANTIATE_TEST_SUITE_P(
    Frames, Decode,
    ::testing::Values(
        // Intel 12|8: byte 1 bits 4..7 (2), byte 2 bits 0..3 (3) -> 0x32. Motorola 3|8: byte 0 bits 3..0 (1),
        // byte 1 bits 7..4 (2) -> 0x12. Motorola 39|12: byte 4 (55), byte 5 bits 7..4 (6) -> 0x556.
        // Top: byte 7 (88) bit 7. Low: byte 0 (11) bit 0. Temp: 0x2211 = 8721 * 0.25 - 40 = 2140.25 > 100.
        Row{"across byte borders", 0x123, false, B{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
            "IntelCross=50 MotoCross=18 Moto12=1366 Top=1 Low=1 Temp=2140.25!"},
        Row{"a frame shorter than its message", 0x123, false, B{0x11, 0x22},
            "MotoCross=18 Low=1 Temp=2140.25! (missing 3)"},
        // Intel 0|64: FE FF .. FF little-endian = 0xFEFFFFFFFFFFFFFF. Motorola 7|64 signed: 0xFF..FE = -2.
        Row{"64 bits, 29-bit identifier", 0x18FEF1FE, true, B{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE},
            "Intel64=18374686479671623679 Moto64=-2"},
        // S8: F0 = -16. S12, Motorola 11|12: byte 1 bits 3..0 (F), byte 2 (03) -> 0xF03 = -253 * 0.5.
        Row{"signed", 0x200, false, B{0xF0, 0xFF, 0x03}, "S8=-16 S12=-126.5 Gear=3[Drive, 3rd]"},
        // S8: 80 = -128. S12: 0x802 = -2046 * 0.5. Gear 2 has no text.
        Row{"most negative, no label", 0x200, false, B{0x80, 0x08, 0x02}, "S8=-128 S12=-1023 Gear=2"},
        Row{"positive signed", 0x200, false, B{0x7F, 0x00, 0x01}, "S8=127 S12=0.5 Gear=1[Reverse]"},
        // 1.5f = 3FC00000: Intel bytes 0..3 little-endian; Motorola 39|32: bytes 4..7 big-endian, x2.
        Row{"float", 0x201, false, B{0x00, 0x00, 0xC0, 0x3F, 0x3F, 0xC0, 0x00, 0x00}, "F=1.5 FM=3"},
        // -2.5 = C004000000000000, little-endian.
        Row{"double", 0x202, false, B{0, 0, 0, 0, 0, 0, 0x04, 0xC0}, "D=-2.5"},
        // Sel 1: Volts 0x03E8 = 1000 * 0.1. Sel 2: Temp D8 = -40, - 40. Sel 3 selects neither.
        Row{"multiplexed 1", 0x203, false, B{0x01, 0xE8, 0x03, 0x07}, "Sel=1 Volts=100 Count=7"},
        Row{"multiplexed 2", 0x203, false, B{0x02, 0xD8, 0x00, 0x07}, "Sel=2 Temp=-80 Count=7"},
        Row{"multiplexed, none selected", 0x203, false, B{0x03, 0xD8, 0x00, 0x07}, "Sel=3 Count=7"},
        Row{"multiplexed, short", 0x203, false, B{0x01, 0xE8}, "Sel=1 (missing 2)"}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(Decode, FindsNothingForOtherFrames) {
    const auto loaded = dbc::ParseDbc(HandWorked, "hand.dbc");
    std::vector<dbc::SignalValue> out(loaded.database->MostSignals());
    BusEvent frame;
    frame.id = 0x123;
    frame.extended = true;  // 29-bit 0x123 is not 11-bit 0x123
    EXPECT_FALSE(dbc::DecodeFrame(*loaded.database, frame, out).message);
    frame.extended = false;
    frame.remote = true;
    frame.dlc = 8;
    const dbc::Decoded remote = dbc::DecodeFrame(*loaded.database, frame, out);
    EXPECT_TRUE(remote.message);
    EXPECT_EQ(remote.values, 0);
}

}  // namespace
