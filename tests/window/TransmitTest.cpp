#include <string>

#include "CommandFixture.h"

namespace {

struct Panel {
    const char *name;
    QString period, id, data;
    bool periodic = false, showFrame = false, remote = false, standard = true;
};

struct FrameRow {
    Panel panel;
    Bytes frame;
};

void PrintTo(const FrameRow &r, std::ostream *os) { *os << r.panel.name; }

class Transmit : public CommandWindow {
protected:
    // Fills the transmit panel as an operator would and clicks the transmit button.
    void Send(const Panel &p) {
        Set(p.standard ? w->rb2_0A : w->rb2_0B, true);  // a radio button is cleared by choosing its partner
        ASSERT_EQ(w->rb2_0A->isChecked(), p.standard);
        Set(w->PeriodBox, p.periodic);
        Set(w->ShowFrame, p.showFrame);
        Set(w->RTRBox, p.remote);
        Type(w->editTime, p.period);
        Type(w->editID, p.id);
        Type(w->editData, p.data);
        Click(w->btnTransmit0);
    }

    Bytes OnlyFrame() {
        const auto frames = log.Frames();
        EXPECT_EQ(frames.size(), 1u);
        if (frames.size() != 1) return {};
        EXPECT_TRUE(frames[0].checksumOk);
        return frames[0].bytes;
    }
};

class TransmitFrames : public Transmit, public ::testing::WithParamInterface<FrameRow> {};

TEST_P(TransmitFrames, AdapterReceivesTheOutInitialization) {
    PlugAndFind();
    Send(GetParam().panel);
    EXPECT_EQ(OnlyFrame(), GetParam().frame);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TransmitFrames,
    ::testing::Values(FrameRow{{"Periodic11Bit", "200", "2B6", "FF 7B 4A E8 AD", true},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x00, 0xC8, 0x03, 0x56, 0xC0, 0x00, 0x00,
                                0x05, 0xFF, 0x7B, 0x4A, 0xE8, 0xAD, 0x00, 0x00, 0x00, 0xC1, 0xAF, 0x5F}},
                      FrameRow{{"PeriodicShown29Bit", "1000", "123", "11 22 33 44 55 66 77 88", true, true,
                                false, false},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x03, 0xE8, 0x0B, 0x00, 0x00, 0x09, 0x18,
                                0x18, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x73, 0xAF, 0x5F}},
                      FrameRow{{"RemoteOneShotNoData", "0", "7FF", "", false, false, true},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xE0, 0x00, 0x04,
                                0x00, 0,    0,    0,    0,    0,    0,    0,    0,    0x08, 0xAF, 0x5F}},
                      // Blanks only: no data; the 29-bit form still marks the info byte.
                      FrameRow{{"BlankData29Bit", "5", "0", "     ", false, false, false, false},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00,
                                0x10, 0,    0,    0,    0,    0,    0,    0,    0,    0x06, 0xAF, 0x5F}},
                      FrameRow{{"BlankData11Bit", "5", "0", "   ", false, false, false, true},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0,    0,    0,    0,    0,    0,    0,    0,    0x16, 0xAF, 0x5F}},
                      // Bit 11 does not fit the 11-bit form.
                      FrameRow{{"Id800In11Bit", "1", "800", "1", false, true},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00,
                                0x01, 0x01, 0,    0,    0,    0,    0,    0,    0,    0x1A, 0xAF, 0x5F}},
                      // Groups after the eighth are ignored.
                      FrameRow{{"NineGroups", "1", "1", "1 2 3 4 5 6 7 8 9"},
                               {0xFA, 0xF5, 0x03, 0x11, 0x00, 0x00, 0x01, 0x01, 0x00, 0x20, 0x00, 0x00,
                                0x08, 1,    2,    3,    4,    5,    6,    7,    8,    0x32, 0xAF, 0x5F}}),
    [](const auto &info) { return std::string(info.param.panel.name); });

struct PeriodRow {
    const char *name;
    QString text;
    uint8_t hi, lo;
};

class TransmitPeriods : public Transmit, public ::testing::WithParamInterface<PeriodRow> {};

TEST_P(TransmitPeriods, PeriodBytes) {
    PlugAndFind();
    Send({"", GetParam().text, "2B6", "01"});
    const Bytes f = OnlyFrame();
    ASSERT_EQ(f.size(), 24u);
    EXPECT_EQ(f[5], GetParam().hi);
    EXPECT_EQ(f[6], GetParam().lo);
}

INSTANTIATE_TEST_SUITE_P(Rows, TransmitPeriods,
                         ::testing::Values(PeriodRow{"LeadingSpaces", "  200", 0x00, 0xC8},
                                           PeriodRow{"Dollar", "$C8", 0x00, 0xC8},
                                           PeriodRow{"ZeroX", "0XC8", 0x00, 0xC8},
                                           PeriodRow{"Wraps16", "65536", 0x00, 0x00},
                                           PeriodRow{"Minus300", "-300", 0xFF, 0xD4},
                                           PeriodRow{"Int32Min", "-2147483648", 0x00, 0x00}),
                         [](const auto &info) { return std::string(info.param.name); });

class TransmitRefused : public Transmit, public ::testing::WithParamInterface<QString> {};

TEST_P(TransmitRefused, ConversionErrorBoxAndNothingSent) {
    PlugAndFind();
    Send({"", GetParam(), "2B6", "FF", /*periodic*/ false});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes[0].text, "Convert data Error!");
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_EQ(w->editTime->text(), GetParam().toUpper()) << "the panel keeps its content";
}

INSTANTIATE_TEST_SUITE_P(Rows, TransmitRefused, ::testing::Values("", "200 ", "-", "$", "2147483648", "12A"));

TEST_F(Transmit, StopButtonStopsSlotZero) {
    PlugAndFind();
    Click(w->btnStop0);
    EXPECT_EQ(OnlyFrame(), (Bytes{0xFA, 0xF5, 0x08, 0x01, 0x00, 0x09, 0xAF, 0x5F}));
    log.Clear();
    w->StopCanData(7);
    EXPECT_EQ(OnlyFrame(), (Bytes{0xFA, 0xF5, 0x08, 0x01, 0x07, 0x0E, 0xAF, 0x5F}));
}

}  // namespace
