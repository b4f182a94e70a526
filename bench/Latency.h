// Report-to-label latency, shared by the emulator's and the serial link's benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>

#include "EmulatedFirmware.h"
#include "Main.h"

// Forty reports sent through `send` at random moments, so they fall anywhere between two wake-ups of the
// receive thread; each is timed from entering the link to its time of day standing in lblTime. Sets the
// median_ms, p99_ms, max_ms and samples counters; a report that is refused or never shown ends the run
// with an error.
void MeasureReportToLabel(benchmark::State &state, TfrmMain &w, uint32_t seed, int hour,
                          const std::function<bool(const CanReport &report)> &send);
