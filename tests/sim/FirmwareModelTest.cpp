// The adapter's reading of the command payloads, row by row, fed with what the host's own payload
// builders produce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CanBusPort.h"
#include "Commands.h"
#include "FirmwareModel.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FilterRow {
    const char *name;
    uint32_t tag, mask;
    bool standard;
    BusFrame frame;
    bool accepted;
};

BusFrame Id(uint32_t id, bool extended) {
    BusFrame f;
    f.identifier = id;
    f.extended = extended;
    return f;
}

class FilterRows : public ::testing::TestWithParam<FilterRow> {};

TEST_P(FilterRows, DecodedFromTheHostsPayload) {
    const FilterRow &row = GetParam();
    PayloadBuffer p{};
    const int n = McInitPayload(EncodeId(row.tag, false, row.standard),
                                EncodeId(row.mask, false, row.standard), row.standard, p);
    AcceptanceFilter filter;
    ASSERT_TRUE(FilterFromPayload(p, static_cast<std::size_t>(n), filter));
    EXPECT_FALSE(filter.acceptAll);
    EXPECT_EQ(filter.extended, !row.standard);
    EXPECT_EQ(filter.Accepts(row.frame), row.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FilterRows,
    ::testing::Values(FilterRow{"Exact11", 0x7FF, 0x7FF, true, Id(0x7FF, false), true},
                      FilterRow{"OneBitOff11", 0x7FF, 0x7FF, true, Id(0x7FE, false), false},
                      FilterRow{"Other form rejected by 11", 0x7FF, 0x7FF, true, Id(0x7FF, true), false},
                      FilterRow{"Mask0 takes all 11", 0x123, 0, true, Id(0x456, false), true},
                      FilterRow{"HighNibble11", 0x300, 0x700, true, Id(0x3AB, false), true},
                      FilterRow{"HighNibbleMiss11", 0x300, 0x700, true, Id(0x4AB, false), false},
                      FilterRow{"LowBitsOnly11", 0x005, 0x007, true, Id(0x7FD, false),
                                true},  // uses ID2's bits 7..5
                      FilterRow{"Exact29", 0x1ABCDEF0, 0x1FFFFFFF, false, Id(0x1ABCDEF0, true), true},
                      FilterRow{"LowBitOff29", 0x1ABCDEF0, 0x1FFFFFFF, false, Id(0x1ABCDEF1, true), false},
                      FilterRow{"TopBitOff29", 0x1ABCDEF0, 0x1FFFFFFF, false, Id(0x0ABCDEF0, true), false},
                      FilterRow{"Low11Bits29", 0x7FF, 0x7FF, false, Id(0x1234A7FF, true), true},
                      FilterRow{"Other form rejected by 29", 0x7FF, 0x7FF, false, Id(0x7FF, false), false},
                      FilterRow{"Mask0 takes all 29", 0x1ABCDEF0, 0, false, Id(0x5, true), true}),
    [](const auto &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST(AcceptanceFilter, BeforeAnyFilterEverythingPassesAndShortPayloadsChangeNothing) {
    AcceptanceFilter filter;
    EXPECT_TRUE(filter.Accepts(Id(0x7FF, false)));
    EXPECT_TRUE(filter.Accepts(Id(0x1FFFFFFF, true)));
    const uint8_t shortPayload[9] = {0, 0xFF, 0xE0, 0, 0, 0xFF, 0xE0, 0, 0};
    EXPECT_FALSE(FilterFromPayload(shortPayload, sizeof shortPayload, filter));
    EXPECT_TRUE(filter.acceptAll);
    // The remote bit in tag or mask bytes never counts.
    const uint8_t remoteBits[10] = {0, 0xFF, 0xE0, 0, 0x04, 0xFF, 0xE0, 0, 0x04, 0x08};
    ASSERT_TRUE(FilterFromPayload(remoteBits, sizeof remoteBits, filter));
    EXPECT_EQ(filter.tag, 0x7FFu);
    EXPECT_EQ(filter.mask, 0x7FFu);
}

TEST(BusSettings, EveryRowOfTheHostsTableGivesItsBitRate) {
    const uint32_t expected[8] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 1000000};
    for (int row = 0; row < 8; ++row) {
        PayloadBuffer p{};
        const int n = CanInitPayload(TimingBytesForRow(row), ModeListening, TransceiverLowSpeed, p);
        BusSettings s;
        ASSERT_TRUE(BusSettingsFromPayload(p, static_cast<std::size_t>(n), s));
        EXPECT_EQ(BitRateFromTiming(s.timing), expected[row]) << "row " << row;
        EXPECT_TRUE(s.Listening());
        EXPECT_EQ(s.transceiver, TransceiverLowSpeed);
    }
    BusSettings s;
    EXPECT_FALSE(s.Listening());
    const uint8_t normal[6] = {0x02, 0x00, 0x5E, ModeNormal, 0x32, 0};
    ASSERT_TRUE(BusSettingsFromPayload(normal, sizeof normal, s));
    EXPECT_FALSE(s.Listening());
    EXPECT_FALSE(BusSettingsFromPayload(normal, 5, s));
}

struct SlotRow {
    const char *name;
    Bytes payload;  // as the host sends it
    bool ok;
    SlotSetup expected;
};
SlotSetup Setup(uint8_t slot, bool enabled, bool periodic, bool show, int period, uint32_t id, bool extended,
                bool remote, uint8_t length, std::array<uint8_t, 8> data) {
    SlotSetup s;
    s.slot = slot;
    s.enabled = enabled;
    s.periodic = periodic;
    s.showFrame = show;
    s.period = std::chrono::milliseconds(period);
    s.frame = {id, extended, remote, length, data};
    return s;
}

class SlotRows : public ::testing::TestWithParam<SlotRow> {};

TEST_P(SlotRows, Decoded) {
    const SlotRow &row = GetParam();
    SlotSetup s;
    ASSERT_EQ(SlotFromPayload(row.payload.data(), row.payload.size(), s), row.ok);
    if (!row.ok) return;
    EXPECT_EQ(s.slot, row.expected.slot);
    EXPECT_EQ(s.enabled, row.expected.enabled);
    EXPECT_EQ(s.periodic, row.expected.periodic);
    EXPECT_EQ(s.showFrame, row.expected.showFrame);
    EXPECT_EQ(s.period, row.expected.period);
    EXPECT_EQ(s.frame, row.expected.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SlotRows,
    ::testing::Values(
        SlotRow{"Periodic11",
                {0, 0x00, 0xC8, 0x03, 0x56, 0xC0, 0, 0, 5, 0xFF, 0x7B, 0x4A, 0xE8, 0xAD, 0, 0, 0},
                true,
                Setup(0, true, true, false, 200, 0x2B6, false, false, 5, {0xFF, 0x7B, 0x4A, 0xE8, 0xAD})},
        SlotRow{"PeriodicShown29",
                {0, 0x03, 0xE8, 0x0B, 0, 0, 0x09, 0x18, 0x18, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
                true,
                Setup(0, true, true, true, 1000, 0x123, true, false, 8,
                      {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88})},
        SlotRow{"RemoteCarriesNoData",
                {7, 0, 0, 0x01, 0xFF, 0xE0, 0, 0x04, 2, 0xAA, 0xBB, 0, 0, 0, 0, 0, 0},
                true,
                Setup(7, true, false, false, 0, 0x7FF, false, true, 2, {})},
        SlotRow{"PeriodZeroIsOneShot",
                {1, 0, 0, 0x03, 0x56, 0xC0, 0, 0, 1, 0x42, 0, 0, 0, 0, 0, 0, 0},
                true,
                Setup(1, true, false, false, 0, 0x2B6, false, false, 1, {0x42})},
        SlotRow{"LengthCodeAbove8CarriesEight",
                {2, 0, 10, 0x01, 0x56, 0xC0, 0, 0, 0x0F, 1, 2, 3, 4, 5, 6, 7, 8},
                true,
                Setup(2, true, false, false, 10, 0x2B6, false, false, 8, {1, 2, 3, 4, 5, 6, 7, 8})},
        SlotRow{"WithoutBit0Stopped",
                {3, 0, 10, 0x0A, 0x56, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                true,
                Setup(3, false, true, true, 10, 0x2B6, false, false, 0, {})},
        SlotRow{"Slot8Refused", {8, 0, 10, 0x01, 0x56, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false, {}},
        SlotRow{"ShortRefused", {0, 0, 10, 0x01, 0x56, 0xC0, 0, 0, 0}, false, {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ParseBusOption, PluginAndInterfaceOrAReason) {
    struct Row {
        const char *value;
        bool ok;
        const char *plugin, *interface;
    };
    const Row rows[] = {
        {"virtualcan:can0", true, "virtualcan", "can0"},
        {"socketcan:vcan0", true, "socketcan", "vcan0"},
        {"peakcan:usb:0", true, "peakcan", "usb:0"},  // only the first colon splits
        {"virtualcan", false, "", ""},
        {":can0", false, "", ""},
        {"virtualcan:", false, "", ""},
        {"", false, "", ""},
    };
    for (const Row &row : rows) {
        BusChoice choice;
        std::string why;
        ASSERT_EQ(ParseBusOption(row.value, choice, why), row.ok) << row.value;
        if (row.ok) {
            EXPECT_EQ(choice.plugin, row.plugin);
            EXPECT_EQ(choice.interface, row.interface);
        } else {
            EXPECT_EQ(why, std::string("bus: \"") + row.value +
                               "\" is not PLUGIN:INTERFACE (for example virtualcan:can0 or socketcan:can0)");
        }
    }
}

}  // namespace
