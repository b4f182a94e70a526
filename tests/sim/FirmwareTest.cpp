// The firmware model driven as the host drives it: command frames written through the D2XX side, the
// reports read back. Bus traffic comes from a loopback bus standing for the other nodes.
#include "FirmwareHost.h"

namespace {

class Firmware : public FirmwareOnBus {
protected:
    // Plays the frames on the bus and returns the identifiers the host got reports for, in order.
    std::vector<uint32_t> Heard(const std::vector<BusFrame> &frames) {
        const std::size_t before = Frames().size();
        for (const BusFrame &f : frames) bus.Inject(f);
        // Inject reports on this thread: whatever was reported already waits on the link.
        Pump();
        std::vector<uint32_t> ids;
        const auto all = Frames();
        for (std::size_t i = before; i < all.size(); ++i) ids.push_back(IdOf(all[i]));
        return ids;
    }
};

const BusFrame Std123 = MakeFrame(0x123, false, {0x11, 0x22});
const BusFrame Std7FF = MakeFrame(0x7FF, false, {});
const BusFrame Ext7FF = MakeFrame(0x7FF, true, {1});
const BusFrame Ext1234A7FF = MakeFrame(0x1234A7FF, true, {1, 2, 3});

TEST_F(Firmware, ReportsEveryFrameBeforeAnyFilterThenOnlyWhatPasses) {
    EXPECT_EQ(Heard({Std123, Ext7FF}), (std::vector<uint32_t>{0x123, 0x7FF}));

    Filter(0x7FF, 0x7FF, true);
    EXPECT_EQ(Heard({Std123, Std7FF, Ext7FF, Ext1234A7FF}), (std::vector<uint32_t>{0x7FF}));

    Filter(0x7FF, 0x7FF, false);
    const auto ids = Heard({Std123, Std7FF, Ext7FF, Ext1234A7FF});
    EXPECT_EQ(ids, (std::vector<uint32_t>{0x7FF, 0x1234A7FF}));
    // ... and those two are the 29-bit frames.
    const auto frames = Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[frames.size() - 2][14], 0x11);
    EXPECT_EQ(frames.back()[14], 0x13);
}

TEST_F(Firmware, HeardFrameReportIsStampedWithTheAdaptersClock) {
    SetTime(12, 34, 56, 999);
    bus.Inject(Std123);
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() == 1; }));
    Bytes report = Frames()[0];
    ASSERT_EQ(report.size(), CanReportSize);
    // Within a few seconds of 12:34:56.999; the rest byte for byte.
    const int ms = ((report[5] * 60 + report[6]) * 60 + report[7]) * 1000 + report[8] * 256 + report[9];
    const int sent = ((12 * 60 + 34) * 60 + 56) * 1000 + 999;
    EXPECT_GE(ms, sent);
    EXPECT_LT(ms, sent + 5000);
    const CanReport expected =
        BuildCanReport(Std123, report[5], report[6], report[7], report[8] * 256 + report[9]);
    EXPECT_EQ(report, Bytes(expected.begin(), expected.end()));
}

TEST_F(Firmware, DisableStopsReceptionUntilTheMatchingInitialization) {
    Command(frame::McDisable, {0});
    ASSERT_TRUE(WaitUntil([&] { return CountOf(frame::McDisable) == 1; }));
    EXPECT_TRUE(Heard({Std123}).empty());
    InitCan();  // the controller was never off: reception needs MC Initialization
    EXPECT_TRUE(Heard({Std123}).empty());
    Filter(0, 0, true);
    EXPECT_EQ(Heard({Std123}), (std::vector<uint32_t>{0x123}));

    Command(frame::CanDisable);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(frame::CanDisable) == 1; }));
    bus.InjectError(0x0C);
    EXPECT_TRUE(Heard({Std123}).empty());
    EXPECT_EQ(CountOf(frame::BusErrorReport), 0u);
    EXPECT_FALSE(firmware->State().controllerOn);
    InitCan();
    EXPECT_EQ(Heard({Std123}), (std::vector<uint32_t>{0x123}));
    bus.InjectError(0x0C);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(frame::BusErrorReport) == 1; }));
}

TEST_F(Firmware, PauseHoldsBackFramesButNotErrorsAndInitializationLiftsIt) {
    SetPause(true);
    EXPECT_TRUE(firmware->State().paused);
    bus.InjectError(0x01);
    EXPECT_TRUE(Heard({Std123}).empty());
    EXPECT_EQ(CountOf(frame::BusErrorReport), 1u);

    SetPause(false);
    EXPECT_EQ(Heard({Std123}), (std::vector<uint32_t>{0x123}));

    // The host clears its own pause at every initialization without telling the adapter.
    SetPause(true);
    InitCan();
    EXPECT_FALSE(firmware->State().paused);
    EXPECT_EQ(Heard({Std123}), (std::vector<uint32_t>{0x123}));
}

TEST_F(Firmware, CanInitializationKeepsTimingModeAndTransceiver) {
    Send(frame::CanInitialization, [](PayloadBuffer &p) {
        return CanInitPayload(TimingBytesForRow(7), ModeListening, TransceiverLowSpeed, p);
    });
    const FirmwareState s = firmware->State();
    EXPECT_EQ(s.bus.timing, TimingBytesForRow(7));
    EXPECT_EQ(BitRateFromTiming(s.bus.timing), 1000000u);
    EXPECT_TRUE(s.bus.Listening());
    EXPECT_EQ(s.bus.transceiver, TransceiverLowSpeed);
    // Listening still receives.
    EXPECT_EQ(Heard({Std123}), (std::vector<uint32_t>{0x123}));
}

TEST_F(Firmware, DamagedAndShortCommandsChangeNothing) {
    Filter(0x7FF, 0x7FF, true);
    const AcceptanceFilter before = firmware->State().filter;
    Command(frame::McInitialization, {0, 0, 0, 0, 0, 0, 0, 0, 0});  // one byte short: answered only
    Bytes broken = {0xFA, 0xF5, 0x06, 0x00, 0x07, 0xAF, 0x5F};      // CAN Disable, wrong checksum
    DWORD written = 0;
    ASSERT_EQ(adapter.Write(handle, broken.data(), static_cast<DWORD>(broken.size()), &written), FT_OK);
    Command(frame::Pause, {});  // no payload: answered only
    ASSERT_TRUE(WaitUntil([&] { return CountOf(frame::Pause) == 1; }));
    EXPECT_EQ(CountOf(frame::McInitialization), 2u);
    EXPECT_EQ(CountOf(frame::CanDisable), 0u);
    const FirmwareState s = firmware->State();
    EXPECT_EQ(s.filter, before);
    EXPECT_TRUE(s.controllerOn);
    EXPECT_FALSE(s.paused);
}

}  // namespace
