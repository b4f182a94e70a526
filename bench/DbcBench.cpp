// The DBC reader and the signal decoder: loading a file of 500 messages (and a real one), and decoding
// every signal of every frame, with the share of a core that costs at the receive list's 21,300 frames/s;
// a copy of the same frames as the ceiling. Frames go round the 500 messages with data from a fixed seed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "DbcReader.h"
#include "DecodedCsv.h"
#include "GeneratedDbc.h"
#include "SignalDecode.h"

namespace {

constexpr double ListFramesPerSecond = 21300;

const std::string &Text500() {
    static const std::string text = GeneratedDbc(500);
    return text;
}

const dbc::Database &Database500() {
    static const auto loaded = dbc::ParseDbc(Text500(), "generated.dbc");
    return *loaded.database;
}

const std::vector<BusEvent> &Frames() {
    static const std::vector<BusEvent> frames = [] {
        std::vector<BusEvent> f(4096);
        uint32_t seed = 1;
        const auto &messages = Database500().messages;
        for (std::size_t i = 0; i < f.size(); ++i) {
            const dbc::Message &m = messages[(i * 7) % messages.size()];
            f[i].id = m.id;
            f[i].extended = m.extended;
            f[i].dlc = 8;
            for (uint8_t &b : f[i].data) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        }
        return f;
    }();
    return frames;
}

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// frames/s, and the share of one core that ListFramesPerSecond of them take, in per cent: one frame an
// iteration, timed from before the loop.
void SetFrameRates(benchmark::State &state, Clock::time_point start) {
    const double perFrame = SecondsSince(start) / static_cast<double>(state.iterations());
    state.counters["frames/s"] = 1 / perFrame;
    state.counters["core%@21300/s"] = 100 * perFrame * ListFramesPerSecond;
}

void BM_DbcLoad500Messages(benchmark::State &state) {
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        const auto loaded = dbc::ParseDbc(Text500(), "generated.dbc");
        if (!loaded.database) state.SkipWithError(loaded.error.c_str());
        benchmark::DoNotOptimize(loaded.database.get());
    }
    state.counters["bytes"] = static_cast<double>(Text500().size());
    state.counters["ms/load"] = 1e3 * SecondsSince(start) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DbcLoad500Messages)->Unit(benchmark::kMillisecond);

void BM_DbcLoadRealFile(benchmark::State &state) {
    for (auto _ : state) {
        const auto loaded = dbc::LoadDbcFile(BRISKLET_TEST_DATA "/dbc/gm_global_a_object.dbc");
        if (!loaded.database) state.SkipWithError(loaded.error.c_str());
        benchmark::DoNotOptimize(loaded.database.get());
    }
}
BENCHMARK(BM_DbcLoadRealFile)->Unit(benchmark::kMillisecond);

// One frame per iteration: the message found by identifier, every signal it selects decoded.
void BM_DbcDecodeFrame(benchmark::State &state) {
    const dbc::Database &db = Database500();
    const auto &frames = Frames();
    std::vector<dbc::SignalValue> out(db.MostSignals());
    std::size_t i = 0;
    const Clock::time_point start = Clock::now();
    long values = 0;
    for (auto _ : state) {
        const dbc::Decoded d = dbc::DecodeFrame(db, frames[i++ & (frames.size() - 1)], out);
        values += d.values;
        benchmark::DoNotOptimize(out.data());
    }
    if (values == 0) state.SkipWithError("nothing decoded");
    state.counters["values/frame"] = static_cast<double>(values) / static_cast<double>(state.iterations());
    SetFrameRates(state, start);
}
BENCHMARK(BM_DbcDecodeFrame);

// The ceiling: each frame copied as it is, the cheapest thing a consumer can do with it.
void BM_DbcFrameCopyCeiling(benchmark::State &state) {
    const auto &frames = Frames();
    BusEvent slot;
    std::size_t i = 0;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        std::memcpy(&slot, &frames[i++ & (frames.size() - 1)], sizeof slot);
        benchmark::DoNotOptimize(&slot);
        benchmark::ClobberMemory();
    }
    SetFrameRates(state, start);
}
BENCHMARK(BM_DbcFrameCopyCeiling);

// The decoded export: every value of a frame as a CSV line into a string that is reused.
void BM_DbcDecodeFrameToCsv(benchmark::State &state) {
    const dbc::Database &db = Database500();
    const auto &frames = Frames();
    std::vector<dbc::SignalValue> out(db.MostSignals());
    std::string csv;
    std::size_t i = 0;
    const Clock::time_point start = Clock::now();
    for (auto _ : state) {
        const dbc::Decoded d = dbc::DecodeFrame(db, frames[i++ & (frames.size() - 1)], out);
        csv.clear();
        for (int k = 0; k < d.values; ++k) dbc::AppendCsvLine(csv, {1733655296, 123000}, *d.message, out[k]);
        benchmark::DoNotOptimize(csv.data());
    }
    SetFrameRates(state, start);
}
BENCHMARK(BM_DbcDecodeFrameToCsv);

}  // namespace
