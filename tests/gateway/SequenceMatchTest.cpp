// The window-free sequences against the window's own buttons: for the same settings, the same frames
// byte for byte, with the waits in the same places.
#include <QComboBox>

#include "CommandFixture.h"
#include "RecordingChannel.h"

namespace {

struct SettingsRow {
    const char *name;
    CanSetup setup;
    const char *tag, *mask;  // as typed into the window
};

class SequenceMatch : public CommandWindow, public ::testing::WithParamInterface<SettingsRow> {
protected:
    void SetControls(const SettingsRow &row) {
        w->ComboSpeed->setCurrentIndex(row.setup.bitRateRow);
        Set(w->ListeningCheckBox, row.setup.listening);
        Set(row.setup.lowSpeed ? w->LowSpeed : w->HighSpeed, true);
        Set(row.setup.standard ? w->rb2_0A : w->rb2_0B, true);
        Type(w->editTag, row.tag);
        Type(w->editMask, row.mask);
    }
    std::vector<std::vector<uint8_t>> WindowFrames() const {
        std::vector<std::vector<uint8_t>> frames;
        for (const LoggedFrame &f : log.Frames()) frames.push_back(f.bytes);
        return frames;
    }
    static std::vector<std::size_t> WindowWaits() {
        std::vector<std::size_t> at;
        for (const SequenceClock::Wait &wait : SequenceClock::waits) {
            EXPECT_EQ(wait.ms, static_cast<uint32_t>(CommandSpacing.count()));
            at.push_back(wait.framesBefore);
        }
        return at;
    }
};

TEST_P(SequenceMatch, InitializeIsTheWindowsInitializeButton) {
    PlugAndFind();
    SetControls(GetParam());
    SequenceClock::Install(log);
    Click(w->btnInit);
    const auto window = WindowFrames();
    ASSERT_GE(window.size(), 2u);

    RecordingChannel channel;
    channel.time = TimeInFrame(window[1]);
    InitializeSequence(GetParam().setup, channel);
    EXPECT_EQ(channel.frames, window);
    EXPECT_EQ(channel.waits, WindowWaits());
}

TEST_P(SequenceMatch, DisableIsTheWindowsAbortButton) {
    PlugAndFind();
    SetControls(GetParam());
    SequenceClock::Install(log);
    Click(w->btnStop);

    RecordingChannel channel;
    DisableSequence(channel);
    EXPECT_EQ(channel.frames, WindowFrames());
    EXPECT_EQ(channel.waits, WindowWaits());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SequenceMatch,
    ::testing::Values(SettingsRow{"defaults", CanSetup{}, "0", "0"},
                      SettingsRow{"standard_filter_1000k_low_speed",
                                  CanSetup{7, false, true, 0x7FF, 0x7F0, true}, "7FF", "7F0"},
                      SettingsRow{"listening_extended_10k",
                                  CanSetup{0, true, false, 0x1ABCDEF0, 0x1FFFFFFF, false}, "1ABCDEF0",
                                  "1FFFFFFF"},
                      SettingsRow{"listening_standard_125k_low", CanSetup{4, true, true, 0x123, 0x7FF, true},
                                  "123", "7FF"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BitRateRows, EveryRateOfTheListAndNothingElse) {
    for (std::size_t row = 0; row < BitTimingTable.size(); ++row)
        EXPECT_EQ(BitRateRowFor(BitTimingTable[row].kbps), static_cast<int>(row));
    for (int kbps : {0, -250, 249, 251, 800, 2000}) EXPECT_EQ(BitRateRowFor(kbps), -1) << kbps;
}

}  // namespace
