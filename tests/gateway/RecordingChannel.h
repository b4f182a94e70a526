// A command channel that keeps the frames a sequence builds and where its waits fall, with a fixed time
// of day: what a sequence would put on the link, to compare with what reached an adapter.
#pragma once

#include <cstdint>
#include <vector>

#include "AdapterSequences.h"
#include "Encoder.h"

struct RecordingChannel final : SetupChannel {
    explicit RecordingChannel(const CanSetup &setup = {}) : SetupChannel(setup) {}

    TimeOfDay time;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::size_t> waits;  // frames sent before each wait

    void Send(uint8_t code, const PayloadBuffer &payload, int length) override {
        uint8_t out[frame::MaxCommandFrame];
        const std::size_t size = BuildFrame(code, payload, length, out);
        frames.emplace_back(out, out + size);
    }
    void Wait() override { waits.push_back(frames.size()); }
    TimeOfDay Now() override { return time; }
};

// The time of day a Time Initialization frame carries.
inline TimeOfDay TimeInFrame(const std::vector<uint8_t> &frame) {
    if (frame.size() < 12 || frame[2] != 4) return {};
    return {frame[4], frame[5], frame[6], frame[7] * 256 + frame[8]};
}
