#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>
#include <ostream>
#include <string>

#include "CommandFixture.h"

namespace {

constexpr long long MinGapMs = 95;  // the sequences wait 100 ms; a little slack for clock granularity

const Bytes ReadyFrame{0xFA, 0xF5, 0x00, 0x00, 0x00, 0xAF, 0x5F};
const Bytes DefaultCanInitFrame{0xFA, 0xF5, 0x01, 0x06, 0x02, 0x00, 0x5E, 0x02, 0x32, 0x00, 0x6B, 0xAF, 0x5F};
const Bytes ZeroFilterFrame{0xFA, 0xF5, 0x02, 0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0xAF, 0x5F};
const Bytes McDisableFrame{0xFA, 0xF5, 0x07, 0x01, 0x00, 0x06, 0xAF, 0x5F};
const Bytes CanDisableFrame{0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};

Bytes OutDisableFrame(uint8_t slot) {
    return {0xFA, 0xF5, 0x08, 0x01, slot, static_cast<uint8_t>(0x08 ^ 0x01 ^ slot), 0xAF, 0x5F};
}

int TimeFrameMs(const LoggedFrame &f) {
    const Bytes &p = f.payload;
    return ((p[0] * 60 + p[1]) * 60 + p[2]) * 1000 + p[3] * 256 + p[4];
}

using CommandSequence = CommandWindow;

TEST_F(CommandSequence, DefaultInitializationSendsFourSpacedCommandsWithTheClockTime) {
    PlugAndFind();
    PauseState.store(1);
    const QTime before = QTime::currentTime();
    Click(w->btnInit);
    const QTime after = QTime::currentTime();

    const auto frames = log.Frames();
    ASSERT_EQ(Types(), (Bytes{0, 4, 1, 2}));
    for (const LoggedFrame &f : frames) EXPECT_TRUE(f.checksumOk);
    EXPECT_EQ(frames[0].bytes, ReadyFrame);
    EXPECT_EQ(frames[2].bytes, DefaultCanInitFrame);
    EXPECT_EQ(frames[3].bytes, ZeroFilterFrame);
    for (std::size_t i = 1; i < frames.size(); ++i)
        EXPECT_GE(MsBetween(frames[i - 1], frames[i]), MinGapMs) << "before frame " << i;

    // The time is read when the frame goes out, after the first wait.
    ASSERT_EQ(frames[1].payload.size(), 5u);
    EXPECT_TRUE(frames[1].payload[0] <= 23 && frames[1].payload[1] <= 59 && frames[1].payload[2] <= 59);
    if (after < before) GTEST_SKIP() << "midnight passed during the sequence";
    const int sent = TimeFrameMs(frames[1]);
    EXPECT_GE(sent, before.msecsSinceStartOfDay() + MinGapMs);
    EXPECT_LE(sent, after.msecsSinceStartOfDay());

    EXPECT_EQ(PauseState.load(), 0) << "initialization resumes the display without a Pause command";
    EXPECT_TRUE(w->btnTransmit0->isEnabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CommandSequence, InitializationReadsBitRateTransceiverAndFilterFromTheWindow) {
    PlugAndFind();
    w->ComboSpeed->setCurrentIndex(7);  // 1000 kbps
    Set(w->LowSpeed, true);
    Type(w->editTag, "7ff");
    Type(w->editMask, "7FF");
    Set(w->rb2_0B, true);
    Click(w->btnInit);
    auto frames = log.Frames();
    ASSERT_EQ(Types(), (Bytes{0, 4, 1, 2}));
    EXPECT_EQ(frames[2].bytes,
              (Bytes{0xFA, 0xF5, 0x01, 0x06, 0x00, 0x00, 0x24, 0x02, 0x32, 0x01, 0x12, 0xAF, 0x5F}));
    EXPECT_EQ(frames[3].bytes, (Bytes{0xFA, 0xF5, 0x02, 0x0A, 0x00, 0x00, 0x00, 0x3F, 0xF8, 0x00, 0x00, 0x3F,
                                      0xF8, 0x18, 0x10, 0xAF, 0x5F}));

    log.Clear();
    Set(w->rb2_0A, true);
    w->ComboSpeed->setCurrentIndex(-1);  // no selection: the 250 kbps row
    Set(w->HighSpeed, true);
    Click(w->btnInit);
    frames = log.Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[2].bytes, DefaultCanInitFrame);
    EXPECT_EQ(frames[3].bytes, (Bytes{0xFA, 0xF5, 0x02, 0x0A, 0x00, 0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xE0, 0x00,
                                      0x00, 0x08, 0x00, 0xAF, 0x5F}));
}

TEST_F(CommandSequence, ListeningModeStopsAllSlotsAndWaitsBeforeCanInitialization) {
    PlugAndFind();
    Set(w->ListeningCheckBox, true);
    Click(w->btnInit);
    const auto frames = log.Frames();
    ASSERT_EQ(Types(), (Bytes{0, 4, 8, 8, 8, 8, 8, 8, 8, 8, 1, 2}));
    for (uint8_t slot = 0; slot < 8; ++slot) EXPECT_EQ(frames[2 + slot].bytes, OutDisableFrame(slot));
    EXPECT_GE(MsBetween(frames[1], frames[2]), MinGapMs);
    EXPECT_GE(MsBetween(frames[9], frames[10]), MinGapMs);
    EXPECT_GE(MsBetween(frames[10], frames[11]), MinGapMs);
    EXPECT_GE(MsBetween(frames[0], frames[11]), 4 * MinGapMs);
    EXPECT_EQ(frames[10].bytes,
              (Bytes{0xFA, 0xF5, 0x01, 0x06, 0x02, 0x00, 0x5E, 0x0A, 0x32, 0x00, 0x63, 0xAF, 0x5F}));
    EXPECT_FALSE(w->btnTransmit0->isEnabled());
    EXPECT_TRUE(w->btnStop0->isEnabled());

    // The disabled transmit button sends nothing; leaving listening mode enables it at the next
    // initialization.
    log.Clear();
    Type(w->editTime, "200");
    Click(w->btnTransmit0);
    EXPECT_EQ(log.Count(), 0u);
    Set(w->ListeningCheckBox, false);
    Click(w->btnInit);
    EXPECT_EQ(Types(), (Bytes{0, 4, 1, 2}));
    EXPECT_TRUE(w->btnTransmit0->isEnabled());
}

TEST_F(CommandSequence, DisableStopsSlotsThenMcThenCan) {
    PlugAndFind();
    PauseState.store(1);
    Click(w->btnStop);
    const auto frames = log.Frames();
    ASSERT_EQ(Types(), (Bytes{8, 8, 8, 8, 8, 8, 8, 8, 7, 6}));
    for (uint8_t slot = 0; slot < 8; ++slot) EXPECT_EQ(frames[slot].bytes, OutDisableFrame(slot));
    EXPECT_EQ(frames[8].bytes, McDisableFrame);
    EXPECT_EQ(frames[9].bytes, CanDisableFrame);
    EXPECT_GE(MsBetween(frames[7], frames[8]), MinGapMs);
    EXPECT_GE(MsBetween(frames[8], frames[9]), MinGapMs);
    EXPECT_EQ(PauseState.load(), 0);
}

TEST_F(CommandSequence, PauseTogglesAndInitializationResumesWithoutPauseCommand) {
    PlugAndFind();
    Click(w->btnPause);
    EXPECT_EQ(PauseState.load(), 1);
    Click(w->btnPause);
    EXPECT_EQ(PauseState.load(), 0);
    const auto frames = log.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, (Bytes{0xFA, 0xF5, 0x0A, 0x01, 0xFF, 0xF4, 0xAF, 0x5F}));
    EXPECT_EQ(frames[1].bytes, (Bytes{0xFA, 0xF5, 0x0A, 0x01, 0x00, 0x0B, 0xAF, 0x5F}));

    log.Clear();
    Click(w->btnPause);
    ASSERT_EQ(PauseState.load(), 1);
    log.Clear();
    Click(w->btnInit);
    EXPECT_EQ(PauseState.load(), 0);
    EXPECT_EQ(Types(), (Bytes{0, 4, 1, 2}));
}

// The waits of a sequence: after which frame each comes, how long it is, and whether the display was
// still paused during it. Initialization resumes the display right after MC Initialization, with no wait
// behind it; disabling waits after every step, the display resuming only after the last wait.
struct WaitsRow {
    const char *name;
    bool disable, listening;
    Bytes types;
    std::vector<std::size_t> waitAfterFrame;  // frames that had gone out when each wait began
};

void PrintTo(const WaitsRow &r, std::ostream *os) { *os << r.name; }

class SequenceWaits : public CommandWindow, public ::testing::WithParamInterface<WaitsRow> {};

TEST_P(SequenceWaits, ComeBetweenTheStepsAndResumeTheDisplayAtTheEnd) {
    const WaitsRow &row = GetParam();
    PlugAndFind();
    Set(w->ListeningCheckBox, row.listening);
    PauseState.store(1);
    SequenceClock::Install(log);
    Click(row.disable ? w->btnStop : w->btnInit);
    ASSERT_EQ(Types(), row.types);
    std::vector<SequenceClock::Wait> expected;
    for (std::size_t frames : row.waitAfterFrame) expected.push_back({100, frames, 1});
    EXPECT_EQ(SequenceClock::waits, expected);
    EXPECT_EQ(SequenceClock::now, 100 * row.waitAfterFrame.size()) << "the sequence's time, all of it waited";
    EXPECT_EQ(PauseState.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SequenceWaits,
    ::testing::Values(
        WaitsRow{"Initialize", false, false, {0, 4, 1, 2}, {1, 2, 3}},
        WaitsRow{"InitializeListening", false, true, {0, 4, 8, 8, 8, 8, 8, 8, 8, 8, 1, 2}, {1, 2, 10, 11}},
        WaitsRow{"Disable", true, false, {8, 8, 8, 8, 8, 8, 8, 8, 7, 6}, {8, 9, 10}}),
    [](const auto &info) { return std::string(info.param.name); });

// A click during one of the waits starts its command at once; it is not refused or queued.
TEST_F(CommandSequence, ClickDuringAWaitInterleaves) {
    PlugAndFind();
    SequenceClock::Install(log);
    SequenceClock::during = [this](std::size_t wait) {
        if (wait == 0) Click(w->btnStop0);
    };
    Click(w->btnInit);
    const auto frames = log.Frames();
    ASSERT_EQ(Types(), (Bytes{0, 8, 4, 1, 2}));
    EXPECT_EQ(frames[1].bytes, OutDisableFrame(0));
}

TEST_F(CommandSequence, AdapterLostDuringASequenceRunsToItsEndSilently) {
    PlugAndFind();
    SequenceClock::Install(log);
    SequenceClock::during = [this](std::size_t wait) {
        if (wait != 1) return;  // after Time Initialization went out
        TheSimAdapter().Unplug();
        w->Timer1Timer();
    };
    Click(w->btnInit);
    EXPECT_FALSE(DevicePresent.load());
    EXPECT_EQ(Types(), (Bytes{0, 4}));
    EXPECT_EQ(SequenceClock::waits.size(), 3u) << "the waits run to the end";
    EXPECT_EQ(PauseState.load(), 0);
    EXPECT_TRUE(boxes.empty());
}

// Closing the window while a sequence waits closes the link; what is left of the sequence must neither
// write to the closed handle (a spurious "Invalid Handle" line) nor let a tick re-open the adapter.
TEST_F(CommandSequence, ClosingDuringASequenceSendsNothingMoreAndLeavesTheLinkClosed) {
    PlugAndFind();
    SequenceClock::Install(log);
    SequenceClock::during = [this](std::size_t wait) {
        if (wait == 1) w->close();
    };
    Click(w->btnInit);
    EXPECT_EQ(Types(), (Bytes{0, 4}));
    EXPECT_FALSE(TheSimAdapter().IsOpen());
    EXPECT_FALSE(w->Timer1->isActive()) << "no tick can come to re-open it";
    QCoreApplication::processEvents();
    EXPECT_FALSE(TheSimAdapter().IsOpen());
    EXPECT_EQ(w->StatusPanel1->text(), "");
    PauseState.store(0);
}

TEST_F(CommandSequence, AbsentAdapterShowsOnlyTheWarningAndWritesNothing) {
    PauseState.store(1);
    QToolButton *const buttons[] = {w->btnInit, w->btnPause, w->btnStop, w->btnTransmit0, w->btnStop0};
    Type(w->editTime, "200");
    for (QToolButton *b : buttons) {
        boxes.clear();
        Click(b);
        ASSERT_EQ(boxes.size(), 1u) << b->objectName().toStdString();
        EXPECT_EQ(boxes[0].icon, BoxIcon::Warning);
        EXPECT_EQ(boxes[0].caption, "Warning");
        EXPECT_EQ(
            boxes[0].text,
            "Device Not Present! You must Plug-In USB Adaptor or \r\nInstal USB Driver and Restart your "
            "Computer.");
    }
    EXPECT_EQ(PauseState.load(), 1);
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::Write), 0u);
    EXPECT_EQ(log.Count(), 0u);

    // Stopping every slot is part of bigger sequences and stays silent on its own.
    boxes.clear();
    w->DisableTransmit();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CommandSequence, ClearNeedsNoAdapterAndSendsNothing) {
    w->lblMessCount->setText("5");
    w->CanErrorInc(0x0F);
    w->CanErrorShow();
    ASSERT_NE(w->lblMessError->text(), "0");
    Click(w->btnClear);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(w->lblMessCount->text(), "0");
    EXPECT_EQ(w->lblMessError->text(), "0");
    PlugAndFind();
    Click(w->btnClear);
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_TRUE(boxes.empty());
}

// Sees, at the moment each frame reaches the adapter, whether the presence timer could tick.
class TimerWatch final : public SimFirmware {
public:
    explicit TimerWatch(QTimer *timer) : timer_(timer) {}
    void OnHostBytes(SimAdapter &, const uint8_t *, std::size_t) override {
        activeDuringWrite.push_back(timer_->isActive());
    }
    std::vector<bool> activeDuringWrite;

private:
    QTimer *timer_;
};

TEST_F(CommandSequence, EncoderWritesOneFrameWithTheTimerHeldOff) {
    PlugAndFind();
    TimerWatch watch(w->Timer1);
    CommandLog seen(&watch);  // records, then hands the bytes on
    TheSimAdapter().SetFirmware(&seen);
    uint8_t payload[256];
    for (int i = 0; i < 256; ++i) payload[i] = static_cast<uint8_t>(i);
    w->Timer1->start();
    ShowLinkErrors.store(false);
    TheSimAdapter().ResetCallCounts();
    EXPECT_TRUE(w->CreateMessage(0x102, 40, payload));  // low byte is the type; 40 is cut to 32
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::Write), 1u);
    EXPECT_EQ(watch.activeDuringWrite, std::vector<bool>{false});
    EXPECT_TRUE(ShowLinkErrors.load());
    w->Timer1->stop();
    EXPECT_TRUE(w->CreateMessage(6, 0, payload));
    EXPECT_TRUE(w->Timer1->isActive()) << "started after the write whatever its state before";

    const auto frames = seen.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes.size(), 39u);
    EXPECT_EQ(frames[0].type, 2);
    EXPECT_EQ(frames[0].payload, Bytes(payload, payload + 32));
    EXPECT_TRUE(frames[0].checksumOk);

    // A failed write is false and reaches the status line through the link's report.
    TheSimAdapter().FailNext(SimOp::Write, FT_IO_ERROR);
    EXPECT_FALSE(w->CreateMessage(6, 0, payload));
    EXPECT_TRUE(w->StatusPanel1->text().contains("FT_Write")) << w->StatusPanel1->text().toStdString();

    // Absent: nothing written, timer and error flag left as they were.
    DevicePresent.store(false);
    w->Timer1->stop();
    ShowLinkErrors.store(false);
    TheSimAdapter().ResetCallCounts();
    EXPECT_FALSE(w->CreateMessage(6, 0, payload));
    EXPECT_EQ(TheSimAdapter().CallCount(SimOp::Write), 0u);
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_FALSE(ShowLinkErrors.load());
    TheSimAdapter().SetFirmware(&log);
}

}  // namespace
