// The receive display's texts and counters.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTemporaryDir>
#include <cstdint>
#include <limits>
#include <memory>

#include "Main.h"
#include "MainDisplay.h"
#include "WindowOnEmulator.h"

struct TimeRow {
    int h, m, s, ms;
    const char *text;
};
class ArrivalTime : public ::testing::TestWithParam<TimeRow> {};
TEST_P(ArrivalTime, Text) {
    const TimeRow &r = GetParam();
    EXPECT_EQ(ArrivalTimeText(r.h, r.m, r.s, r.ms), QString(r.text));
}
INSTANTIATE_TEST_SUITE_P(
    Rows, ArrivalTime,
    ::testing::Values(TimeRow{9, 5, 3, 7, "9:05:03.007"}, TimeRow{14, 30, 0, 250, "14:30:00.250"},
                      TimeRow{0, 0, 0, 0, "0:00:00.000"}, TimeRow{23, 59, 59, 999, "23:59:59.999"},
                      TimeRow{123, 100, -1, 1000, "123:00:00.000"}, TimeRow{1, 2, 3, 42, "1:02:03.042"}));

TEST(DisplayTexts, Identifier) {
    EXPECT_EQ(IdentifierText(0x2B6), "000002B6");
    EXPECT_EQ(IdentifierText(0x1ABCDEF), "01ABCDEF");
    EXPECT_EQ(IdentifierText(0x7FF), "000007FF");
    EXPECT_EQ(IdentifierText(0x1FFFFFFF), "1FFFFFFF");
    EXPECT_EQ(IdentifierText(0xFFFFFFFF), "FFFFFFFF");
}

TEST(DisplayTexts, DataBytes) {
    const uint8_t d[8] = {0xFF, 0x7B, 0x0A, 0x00, 1, 2, 3, 4};
    EXPECT_EQ(DataBytesText(d, 2), "FF  7B  ");
    EXPECT_EQ(DataBytesText(d, 0), "");
    EXPECT_EQ(DataBytesText(d, -3), "");
    EXPECT_EQ(DataBytesText(d, 8), "FF  7B  0A  00  01  02  03  04  ");
    EXPECT_EQ(DataBytesText(d, 15), DataBytesText(d, 8));
}

class DisplayWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        StartOnEmulator();
        WindowOptions options;
        options.SettingsDir = dir_.path() + "/";
        w = std::make_unique<TfrmMain>(options);
        w->CanCountClear();
        w->CanErrorClear();
    }
    void TearDown() override {
        w.reset();
        EndOnEmulator();
    }
    QTemporaryDir dir_;
    std::unique_ptr<TfrmMain> w;
};

TEST_F(DisplayWindow, PlaceholdersUntilTheFirstFrame) {
    EXPECT_EQ(w->lblTime->text(), "--- : --- : --- . ---");
    EXPECT_EQ(w->lblID->text(), "-- -- -- --");
    EXPECT_EQ(w->lblData->text(), "--  --  --  --  --  --  --  --");
}

// Info byte -> what lblData shows: the 29-bit flag is not a length, and lengths above 8 show 8.
TEST_F(DisplayWindow, DataLengthFromTheInfoByte) {
    const uint8_t d[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        uint8_t info;
        const char *text;
    } rows[] = {{0x00, ""},
                {0x13, "01  02  03  "},
                {0x09, "01  02  03  04  05  06  07  08  "},
                {0x0F, "01  02  03  04  05  06  07  08  "},
                {0x18, "01  02  03  04  05  06  07  08  "}};
    for (const auto &r : rows) {
        w->ReceiveCanData(1, 2, 3, 4, 0x123, r.info, d);
        EXPECT_EQ(w->lblData->text(), QString(r.text)) << int(r.info);
        EXPECT_EQ(w->lblTime->text(), "1:02:03.004");
        EXPECT_EQ(w->lblID->text(), "00000123");
    }
}

TEST_F(DisplayWindow, ErrorCountersByKind) {
    const struct {
        uint8_t flags;
        const char *caption, *hint;
    } rows[] = {{0x0C, "2", "Stuff: 1, CRC: 1, Form: 0, Ack: 0"},
                {0xF0, "2", "Stuff: 1, CRC: 1, Form: 0, Ack: 0"},
                {0x03, "4", "Stuff: 1, CRC: 1, Form: 1, Ack: 1"},
                {0x0F, "8", "Stuff: 2, CRC: 2, Form: 2, Ack: 2"},
                {0x00, "8", "Stuff: 2, CRC: 2, Form: 2, Ack: 2"}};
    for (const auto &r : rows) {
        w->lblMessError->setText("x");
        w->CanErrorInc(r.flags);
        w->CanErrorShow();
        EXPECT_EQ(w->lblMessError->text(), QString(r.caption)) << int(r.flags);
        EXPECT_EQ(w->lblMessError->toolTip(), QString(r.hint)) << int(r.flags);
    }
    w->CanErrorClear();
    EXPECT_EQ(w->lblMessError->text(), "8");  // clearing changes no control
    w->CanErrorShow();
    EXPECT_EQ(w->lblMessError->text(), "0");
    EXPECT_EQ(w->lblMessError->toolTip(), "Stuff: 0, CRC: 0, Form: 0, Ack: 0");
}

TEST_F(DisplayWindow, CountClearShowsOnlyWhenShown) {
    MessageCount.store(41);
    w->CanCountShow();
    EXPECT_EQ(w->lblMessCount->text(), "41");
    w->CanCountClear();
    EXPECT_EQ(w->lblMessCount->text(), "41");
    w->CanCountShow();
    EXPECT_EQ(w->lblMessCount->text(), "0");
}

// Near the tops of 32 and 64 bits: no count, hint or total is shown negative or wrapped.
TEST_F(DisplayWindow, CountsNearTheirLimitsNeverWrap) {
    constexpr int64_t I32 = std::numeric_limits<int32_t>::max(), U32 = std::numeric_limits<uint32_t>::max(),
                      Top = std::numeric_limits<int64_t>::max();
    const struct {
        const char *name;
        int64_t stuff, crc, form, ack;
        uint8_t flags;
        const char *caption, *hint;
    } rows[] = {
        {"each at the int32 top", I32, I32, I32, I32, 0x00, "8589934588",
         "Stuff: 2147483647, CRC: 2147483647, Form: 2147483647, Ack: 2147483647"},
        {"one past the int32 top", I32, 0, 0, 0, 0x08, "2147483648",
         "Stuff: 2147483648, CRC: 0, Form: 0, Ack: 0"},
        {"one past the uint32 top", 0, 0, 0, U32, 0x01, "4294967296",
         "Stuff: 0, CRC: 0, Form: 0, Ack: 4294967296"},
        {"total past the int64 top", Top - 1, 1, 0, 0, 0x03, "9223372036854775807",
         "Stuff: 9223372036854775806, CRC: 1, Form: 1, Ack: 1"},
        {"a counter at the top stays there", Top, 0, 0, 0, 0x0F, "9223372036854775807",
         "Stuff: 9223372036854775807, CRC: 1, Form: 1, Ack: 1"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        StuffErrorCount.store(r.stuff);
        CrcErrorCount.store(r.crc);
        FormErrorCount.store(r.form);
        AckErrorCount.store(r.ack);
        w->CanErrorInc(r.flags);
        w->CanErrorShow();
        EXPECT_EQ(w->lblMessError->text().toStdString(), r.caption);
        EXPECT_EQ(w->lblMessError->toolTip().toStdString(), r.hint);
    }

    MessageCount.store(I32);
    MessageCount.fetch_add(1);  // as the pump counts a shown frame
    w->CanCountShow();
    EXPECT_EQ(w->lblMessCount->text().toStdString(), "2147483648");
    w->CanCountClear();
    w->CanErrorClear();
}
