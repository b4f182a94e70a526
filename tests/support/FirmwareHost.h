// The host's side of an emulated adapter for the firmware tests: command frames written through the
// D2XX calls as the program writes them, and the reports read back and cut as the program cuts them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "CanBusPort.h"
#include "LoopbackCanBus.h"
#include "Commands.h"
#include "EmulatedFirmware.h"
#include "Encoder.h"
#include "Reassembly.h"
#include "SimAdapter.h"
#include "TestFrames.h"

using Bytes = std::vector<uint8_t>;

// Only bounds a hung test; nothing waits this long when the firmware works.
constexpr std::chrono::milliseconds Generous{5000};

class FirmwareHost : public ::testing::Test {
protected:
    void SetUp() override {
        adapter.Plug();
        ASSERT_EQ(adapter.Open(0, &handle), FT_OK);
        ASSERT_EQ(adapter.SetTimeouts(handle, 20, 1000), FT_OK);
        firmware = std::make_unique<EmulatedFirmware>(adapter);
        adapter.SetFirmware(firmware.get());
    }
    void TearDown() override {
        adapter.SetFirmware(nullptr);
        firmware.reset();
    }

    void Command(uint8_t code, const uint8_t *payload, int length) {
        uint8_t out[frame::MaxCommandFrame];
        const std::size_t n = BuildFrame(code, payload, length, out);
        DWORD written = 0;
        ASSERT_EQ(adapter.Write(handle, out, static_cast<DWORD>(n), &written), FT_OK);
        ASSERT_EQ(written, n);
    }
    void Command(uint8_t code, const Bytes &payload = {}) {
        Command(code, payload.data(), static_cast<int>(payload.size()));
    }
    // Each builder of Commands.h, then the command; waits for the answer so the state has changed.
    template <class Build>
    void Send(uint8_t code, Build build) {
        PayloadBuffer p{};
        const int n = build(p);
        const std::size_t answers = CountOf(code);
        Command(code, p, n);
        ASSERT_TRUE(WaitUntil([&] { return CountOf(code) > answers; }))
            << "no answer to command " << int(code);
    }
    void InitCan(uint8_t mode = ModeNormal) {
        Send(frame::CanInitialization, [&](PayloadBuffer &p) {
            return CanInitPayload(TimingBytesForRow(DefaultBitRateRow), mode, TransceiverHighSpeed, p);
        });
    }
    void Filter(uint32_t tag, uint32_t mask, bool standard) {
        Send(frame::McInitialization, [&](PayloadBuffer &p) {
            return McInitPayload(EncodeId(tag, false, standard), EncodeId(mask, false, standard), standard,
                                 p);
        });
    }
    void SetUpSlot(uint8_t slot, int period, uint8_t flags, const BusFrame &f) {
        Send(frame::OutInitialization, [&](PayloadBuffer &p) {
            return OutInitPayload(slot, period, flags, EncodeId(f.identifier, f.remote, !f.extended),
                                  InfoByte(f.length, f.extended), f.data.data(), f.length, p);
        });
    }
    void StopSlot(uint8_t slot) {
        Send(frame::OutDisable, [&](PayloadBuffer &p) { return OutDisablePayload(slot, p); });
    }
    void SetPause(bool on) {
        Send(frame::Pause, [&](PayloadBuffer &p) { return PausePayload(on, p); });
    }
    void SetTime(int h, int m, int s, int ms) {
        Send(frame::TimeInitialization, [&](PayloadBuffer &p) { return TimeInitPayload(h, m, s, ms, p); });
    }

    // One read (at most the read time-out), cut into the reports seen so far.
    void Pump() {
        uint8_t buffer[4096];
        DWORD got = 0;
        ASSERT_EQ(adapter.Read(handle, buffer, sizeof buffer, &got), FT_OK);
        cutter_->SaveMessage(buffer, static_cast<int>(got));
        FrameBuffer f;
        while (cutter_->TakeMessage(f)) reports.emplace_back(f, f + f[3] + frame::Overhead);
    }
    bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = Generous) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            Pump();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
        }
    }
    // Lets `ms` pass while reading, for checks that nothing more arrives.
    void Settle(int ms) {
        WaitUntil([] { return false; }, std::chrono::milliseconds(ms));
    }
    std::size_t CountOf(uint8_t type) const {
        std::size_t n = 0;
        for (const Bytes &r : reports) n += r[2] == type;
        return n;
    }
    std::vector<Bytes> Frames() const {  // the type 11 reports, oldest first
        std::vector<Bytes> frames;
        for (const Bytes &r : reports)
            if (r[2] == frame::CanFrameReport) frames.push_back(r);
        return frames;
    }
    static uint32_t IdOf(const Bytes &report) {
        return DecodeId(report[10], report[11], report[12], report[13], report[14]);
    }

    SimAdapter adapter;
    FT_HANDLE handle = nullptr;
    std::unique_ptr<EmulatedFirmware> firmware;
    std::vector<Bytes> reports;

private:
    std::unique_ptr<Reassembly> cutter_ = std::make_unique<Reassembly>();
};

// The firmware host with the adapter on a loopback bus of its own, whose other nodes the test plays.
class FirmwareOnBus : public FirmwareHost {
protected:
    void SetUp() override {
        FirmwareHost::SetUp();
        std::string why;
        ASSERT_TRUE(bus.Open(why)) << why;
        firmware->AttachBus(&bus);
    }
    void TearDown() override {
        firmware->AttachBus(nullptr);
        FirmwareHost::TearDown();
    }

    LoopbackCanBus bus;
};
