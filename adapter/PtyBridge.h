// Carries bytes between the pseudo-terminal's master side and the emulated chip's host side, so that the
// firmware model hears what Brisklet writes to the tty and Brisklet reads what the firmware sends.
//
// The emulated chip (SimAdapter) stays the one place that feeds the firmware: the bridge is simply the
// "host" that holds its D2XX handle, in place of Brisklet's own process.
//
// Thread contract: Start and Stop on one thread; in between two threads of the bridge's own run, one per
// direction. Nothing is allocated per transfer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "SimAdapter.h"

class PtyBridge {
public:
    static constexpr std::size_t ChunkSize = 4096;
    // How long a direction sleeps when no one has the terminal open (the master reports a hang-up).
    static constexpr std::chrono::milliseconds IdleNap{20};
    // How long a report may wait for room in the terminal before it is dropped, as a full chip drops it.
    static constexpr std::chrono::milliseconds WriteBudget{200};

    PtyBridge(int masterFd, SimAdapter &chip) : master_(masterFd), chip_(chip) {}
    ~PtyBridge() { Stop(); }
    PtyBridge(const PtyBridge &) = delete;
    PtyBridge &operator=(const PtyBridge &) = delete;

    // Opens the chip's host side (it must be plugged in) and starts both directions.
    bool Start();
    void Stop();

private:
    void HostToFirmware();
    void FirmwareToHost();
    void WriteToHost(const uint8_t *data, std::size_t count);

    const int master_;
    SimAdapter &chip_;
    FT_HANDLE handle_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread fromHost_, toHost_;
    uint8_t inChunk_[ChunkSize];
    uint8_t outChunk_[ChunkSize];
};
