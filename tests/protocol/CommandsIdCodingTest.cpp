#include <gtest/gtest.h>

#include "IdCoding.h"

namespace {

struct IdRow {
    const char *name;
    uint32_t id;
    bool remote, standard;
    IdBytes bytes;
    uint32_t decoded;  // what comes back with an info byte of the same form
};

class IdCodingRows : public ::testing::TestWithParam<IdRow> {};

TEST_P(IdCodingRows, EncodesAndDecodesBack) {
    const IdRow &r = GetParam();
    EXPECT_EQ(EncodeId(r.id, r.remote, r.standard), r.bytes);
    const uint8_t info = r.standard ? 8 : 8 | InfoExtendedFlag;
    EXPECT_EQ(DecodeId(r.bytes.ID1, r.bytes.ID2, r.bytes.ID3, r.bytes.ID4, info), r.decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IdCodingRows,
    ::testing::Values(IdRow{"Std2B6", 0x2B6, false, true, {0x56, 0xC0, 0, 0}, 0x2B6},
                      IdRow{"Std2B6Remote", 0x2B6, true, true, {0x56, 0xC0, 0, 4}, 0x2B6},
                      IdRow{"Std7FF", 0x7FF, false, true, {0xFF, 0xE0, 0, 0}, 0x7FF},
                      IdRow{"Std800DropsBit11", 0x800, false, true, {0, 0, 0, 0}, 0},
                      IdRow{"Ext1ABCDEF0", 0x1ABCDEF0, false, false, {0xD5, 0xE6, 0xF7, 0x80}, 0x1ABCDEF0},
                      IdRow{
                          "Ext1FFFFFFFRemote", 0x1FFFFFFF, true, false, {0xFF, 0xFF, 0xFF, 0xFC}, 0x1FFFFFFF},
                      IdRow{"Ext123", 0x123, false, false, {0, 0, 0x09, 0x18}, 0x123},
                      IdRow{"ExtTopBitsDropped", 0xE0000001, false, false, {0, 0, 0, 0x08}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(IdCoding, InfoByteAloneDecidesTheForm) {
    EXPECT_EQ(DecodeId(0x56, 0xC0, 0x00, 0x04, 0x08), 0x2B6u);
    EXPECT_EQ(DecodeId(0x56, 0xC0, 0x00, 0x04, 0x18), 0xAD80000u);
}

TEST(IdCoding, TimingBytesOfEveryRow) {
    const TimingBytes expected[8] = {{0x62, 0, 0x5E}, {0x30, 0, 0x5E}, {0x12, 0, 0x5E}, {0x08, 0, 0x5E},
                                     {0x06, 0, 0x5E}, {0x02, 0, 0x5E}, {0x00, 0, 0x5E}, {0x00, 0, 0x24}};
    for (int row = 0; row < 8; ++row) EXPECT_EQ(TimingBytesForRow(row), expected[row]) << "row " << row;
    EXPECT_EQ(TimingBytesForRow(-1), expected[5]);
    EXPECT_EQ(TimingBytesForRow(8), expected[5]);
}

}  // namespace
