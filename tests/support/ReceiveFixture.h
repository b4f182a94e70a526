// A real main window on the emulated adapter, with the adapter's firmware model answering commands and
// producing traffic.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "D2XXUnit.h"
#include "EmulatedFirmware.h"
#include "LinkBackend.h"
#include "Main.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "ProcessState.h"
#include "ReceivePump.h"
#include "SimAdapter.h"
#include "SimBackend.h"
#include "WindowOnEmulator.h"

using Bytes = std::vector<uint8_t>;

// Generous: this only bounds a hung test.
constexpr int ReceiveWaitMs = 2000;

// Dispatches window events until `done` holds or `ms` have passed; true when it holds.
template <class Pred>
bool WaitFor(Pred done, int ms) {
    return QTest::qWaitFor(done, ms);
}
inline std::string Show(const QString &s) { return s.toStdString(); }
inline std::string Show(long v) { return std::to_string(v); }

// For what must not happen: wait until the thing that could make it happen has gone on a while, on the
// emulated adapter. `calls` more calls of any of `ops` ...
inline bool CallsGoOn(std::initializer_list<SimOp> ops, uint64_t n) {
    auto calls = [&] {
        uint64_t sum = 0;
        for (SimOp op : ops) sum += TheSimAdapter().CallCount(op);
        return sum;
    };
    const uint64_t from = calls();
    return WaitFor([&] { return calls() >= from + n; }, ReceiveWaitMs);
}
// ... `n` more receive passes (each asks the link what waits) ...
inline bool PassesGoOn(uint64_t n) { return CallsGoOn({SimOp::GetStatus}, n); }
// ... `n` more presence ticks (each tries to open the adapter or probes the open one).
inline bool TicksGoOn(uint64_t n) { return CallsGoOn({SimOp::Open, SimOp::GetQueueStatus}, n); }

// FA F5 0B ... : a CAN frame received at 12:34:56.999, identifier 0x123, data 11 22.
inline const Bytes CanReport1234{0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03,
                                 0xE7, 0x24, 0x60, 0x00, 0x00, 0x02, 0x11, 0x22, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x9F, 0xAF, 0x5F};

class ReceiveWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        StartOnEmulator();
        firmware = std::make_unique<EmulatedFirmware>(TheSimAdapter());
        TheSimAdapter().SetFirmware(firmware.get());
        w = ShowWindow(dir_);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->btnClearClick();
    }

    void TearDown() override {
        if (firmware) firmware->StopGenerator();
        if (w) w->close();
        w.reset();
        EndOnEmulator();
        firmware.reset();
    }

    // Plugs the adapter in and waits for the presence watch to find it.
    void PlugAndFind() {
        TheSimAdapter().Plug();
        ASSERT_TRUE(WaitFor([&] { return DevicePresent.load(); }, ReceiveWaitMs));
    }

    static void Inject(const Bytes &bytes) {
        ASSERT_EQ(TheSimAdapter().InjectToHost(bytes.data(), bytes.size()), bytes.size());
    }

    QString Text(QLabel *label) const { return label ? label->text() : QString("<no label>"); }

    // For what must not happen: wait until `n` more frames were sent by the emulated adapter's
    // generator (see also PassesGoOn and TicksGoOn above).
    bool FramesGoOut(uint64_t n) {
        const uint64_t from = firmware->CanFramesSent();
        return WaitFor([&] { return firmware->CanFramesSent() >= from + n; }, ReceiveWaitMs);
    }

    std::unique_ptr<EmulatedFirmware> firmware;
    std::unique_ptr<TfrmMain> w;

private:
    QTemporaryDir dir_;
};
