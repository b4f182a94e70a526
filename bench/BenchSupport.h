// What the benchmarks and the load test share: a report stream with the rubbish a real link carries, and
// a real main window on the emulated adapter.
#pragma once

#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "D2xxTypes.h"
#include "Decode.h"
#include "EmulatedFirmware.h"
#include "Main.h"

// CAN frame reports (26 bytes each) with, every so often, a run of stray bytes, a report with a wrong
// checksum and a report cut short. Only the intact reports can be decoded as frames.
struct MixedStream {
    std::vector<uint8_t> bytes;
    long goodReports = 0;
    long allReports = 0;  // good, wrong checksum and cut short
};
MixedStream MakeMixedStream(long goodReports, uint32_t seed);

// `count` intact reports, back to back, with identifiers and data from `seed`.
std::vector<uint8_t> MakeReports(long count, uint32_t seed);

// Counts what the decoder makes of each frame, and nothing else.
struct DecodeCount {
    void Decode(const FrameBuffer &msg) {
        if (DecodeMessage(msg, false, event) != Decoded::Event) return;
        if (event.kind != BusEvent::Kind::Frame) return;
        ++frames;
        mix ^= event.id + static_cast<uint32_t>(event.adapterMs) + event.data[7];
    }
    BusEvent event;
    long frames = 0;
    uint32_t mix = 0;
};

// Dispatches window events until `done` holds or `ms` have passed; true when it holds.
bool WaitUntil(const std::function<bool()> &done, int ms);

// The main window on the emulated adapter, its settings in a folder of its own.
// The window as a user opens it, its settings kept in `dir`, on a fresh process's state with `api` as
// the link's table; shown, its first steps run and its counters cleared.
std::unique_ptr<TfrmMain> OpenWindowOn(const D2xxApi &api, const QTemporaryDir &dir);

class SimWindow {
public:
    SimWindow();
    ~SimWindow();
    // Plugs the adapter in and waits for the presence watch to find it.
    bool PlugAndFind(int ms = 2000);

    TfrmMain &window() { return *window_; }
    EmulatedFirmware &firmware() { return *firmware_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<EmulatedFirmware> firmware_;
    std::unique_ptr<TfrmMain> window_;
};
