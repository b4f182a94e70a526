// The eight transmit slots: what goes on the bus, what is shown back to the host, and what stops them.
#include "FirmwareHost.h"

namespace {

class Slots : public FirmwareOnBus {
protected:
    uint64_t OnBus() const { return bus.TransmittedCount(); }
};

const BusFrame Ext123 = MakeFrame(0x123, true, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
const BusFrame Std2B6 = MakeFrame(0x2B6, false, {0xFF, 0x7B, 0x4A, 0xE8, 0xAD});
const BusFrame Remote7FF = MakeFrame(0x7FF, false, {0, 0, 0}, true);

TEST_F(Slots, OneShotGoesOnTheBusOnceAndIsShownBackAfterTheAnswer) {
    SetTime(23, 59, 59, 900);
    SetUpSlot(0, 0, FlagAlways | FlagShowFrame, Ext123);
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() == 1; }));
    Settle(150);
    ASSERT_EQ(Frames().size(), 1u);
    ASSERT_TRUE(bus.WaitForTransmitted(1, Generous));
    EXPECT_EQ(OnBus(), 1u);
    EXPECT_EQ(bus.Transmitted()[0], Ext123);

    // The command's answer comes first, then the frame, stamped with the adapter's clock.
    EXPECT_EQ(reports[reports.size() - 2], (Bytes{0xFA, 0xF5, 0x03, 0x00, 0x03, 0xAF, 0x5F}));
    const Bytes echo = Frames()[0];
    const Bytes head(echo.begin(), echo.begin() + 5);
    EXPECT_TRUE(head == (Bytes{0xFA, 0xF5, 0x0B, 0x13, 0x00}));
    const Bytes rest(echo.begin() + 10, echo.end() - 3);
    EXPECT_EQ(rest, (Bytes{0x00, 0x00, 0x09, 0x18, 0x18, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    const bool lateEvening = echo[5] == 23 && echo[6] == 59 && echo[7] == 59;
    const bool afterMidnight = echo[5] == 0 && echo[6] == 0 && echo[7] < 10;
    EXPECT_TRUE(lateEvening || afterMidnight) << int(echo[5]) << ":" << int(echo[6]) << ":" << int(echo[7]);
    const CanReport expected = BuildCanReport(Ext123, echo[5], echo[6], echo[7], echo[8] * 256 + echo[9]);
    EXPECT_EQ(echo, Bytes(expected.begin(), expected.end()));
}

TEST_F(Slots, RemoteAndStandardFramesReachTheBusAsSetUp) {
    SetUpSlot(2, 0, FlagAlways, Remote7FF);
    SetUpSlot(3, 0, FlagAlways, Std2B6);
    ASSERT_TRUE(bus.WaitForTransmitted(2, Generous));
    BusFrame remote = Remote7FF;
    remote.data = {};  // a remote frame carries only its length
    EXPECT_EQ(bus.Transmitted()[0], remote);
    EXPECT_EQ(bus.Transmitted()[1], Std2B6);
    Settle(60);
    EXPECT_TRUE(Frames().empty());  // not shown: the flag was clear
}

TEST_F(Slots, PeriodicRepeatsAndIsShownEachTime) {
    SetUpSlot(0, 20, FlagAlways | FlagPeriodic | FlagShowFrame, Std2B6);
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() >= 5; }));
    for (const Bytes &r : Frames()) EXPECT_EQ(IdOf(r), 0x2B6u);
    EXPECT_GE(OnBus(), 5u);
}

// Every way the slots stop: after the command's answer nothing more is sent by the slots it stopped.
struct StopRow {
    const char *name;
    std::function<void(Slots &)> stop;
    bool slot1KeepsRunning;
};

class StopRows : public Slots, public ::testing::WithParamInterface<StopRow> {
public:
    void CommandForRow(uint8_t code, const Bytes &payload) {
        const std::size_t answers = CountOf(code);
        Command(code, payload);
        ASSERT_TRUE(WaitUntil([&] { return CountOf(code) > answers; }));
    }
    void OutDisable0() { StopSlot(0); }
    void ListeningInit() { InitCan(ModeListening); }
    void Unplug() {
        Pump();
        adapter.Unplug();
        adapter.Close(handle);
        adapter.Plug();
        ASSERT_EQ(adapter.Open(0, &handle), FT_OK);
        ASSERT_EQ(adapter.SetTimeouts(handle, 20, 1000), FT_OK);
    }
};

TEST_P(StopRows, NothingFollowsTheStop) {
    SetUpSlot(0, 5, FlagAlways | FlagPeriodic | FlagShowFrame, Std2B6);
    SetUpSlot(1, 5, FlagAlways | FlagPeriodic, Ext123);
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() >= 3; }));
    ASSERT_TRUE(bus.WaitForTransmitted(6, Generous));

    GetParam().stop(*this);
    const std::size_t shown = Frames().size();
    const auto sentBy = [&](uint32_t id) {
        std::size_t n = 0;
        for (const BusFrame &f : bus.Transmitted()) n += f.identifier == id;
        return n;
    };
    const std::size_t slot0 = sentBy(0x2B6), slot1 = sentBy(0x123);
    Settle(150);
    EXPECT_EQ(Frames().size(), shown);
    EXPECT_EQ(sentBy(0x2B6), slot0);
    if (GetParam().slot1KeepsRunning)
        EXPECT_GT(sentBy(0x123), slot1 + 5);
    else
        EXPECT_EQ(sentBy(0x123), slot1);
    EXPECT_EQ(firmware->State().runningSlots, GetParam().slot1KeepsRunning ? 0x02 : 0x00);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StopRows,
    ::testing::Values(
        StopRow{"OutDisableSlot0", [](Slots &s) { static_cast<StopRows &>(s).OutDisable0(); }, true},
        StopRow{"McDisable",
                [](Slots &s) { static_cast<StopRows &>(s).CommandForRow(frame::McDisable, {0}); }, false},
        StopRow{"CanDisable",
                [](Slots &s) { static_cast<StopRows &>(s).CommandForRow(frame::CanDisable, {}); }, false},
        StopRow{"ListeningMode", [](Slots &s) { static_cast<StopRows &>(s).ListeningInit(); }, false},
        StopRow{"PowerOff", [](Slots &s) { static_cast<StopRows &>(s).Unplug(); }, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Slots, NoSlotStartsWhileListeningOrDisabled) {
    InitCan(ModeListening);
    SetUpSlot(0, 0, FlagAlways | FlagShowFrame, Std2B6);
    Command(frame::CanDisable);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(frame::CanDisable) == 1; }));
    InitCan(ModeNormal);  // normal again, but the slot was never started
    Command(frame::CanDisable);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(frame::CanDisable) == 2; }));
    SetUpSlot(1, 0, FlagAlways | FlagShowFrame, Std2B6);
    SetUpSlot(2, 10, FlagPeriodic | FlagShowFrame, Std2B6);  // bit 0 clear
    Settle(100);
    EXPECT_EQ(OnBus(), 0u);
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(CountOf(frame::OutInitialization), 3u);  // each answered all the same
}

TEST_F(Slots, PauseHoldsBackTheShownFrameButTheSlotStillTransmits) {
    SetPause(true);
    SetUpSlot(0, 0, FlagAlways | FlagShowFrame, Std2B6);
    ASSERT_TRUE(bus.WaitForTransmitted(1, Generous));
    Settle(60);
    EXPECT_TRUE(Frames().empty());
}

// 1 ms is the shortest period the host can ask for: the slot keeps up without bursting to catch up.
TEST_F(Slots, OneMillisecondPeriodKeepsPace) {
    const auto start = std::chrono::steady_clock::now();
    SetUpSlot(0, 1, FlagAlways | FlagPeriodic, Std2B6);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t sent = OnBus();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(sent, static_cast<uint64_t>(elapsed.count()) + 2);  // at most one per millisecond
    EXPECT_GE(sent, 50u);                                         // and far from stalled
    StopSlot(0);
}

}  // namespace
