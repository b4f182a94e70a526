// Cutting and decoding alone: the stream as the link delivers it, in reads of a fixed size, through the
// carry, the queue and the decoder; and memcpy of the same bytes in the same reads as the ceiling.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "BenchSupport.h"
#include "Reassembly.h"

namespace {

const MixedStream &Stream() {
    static const MixedStream stream = MakeMixedStream(200000, 1);  // about 5.3 MB
    return stream;
}

void SetRates(benchmark::State &state, const MixedStream &s, bool decoded) {
    const double iterations = static_cast<double>(state.iterations());
    if (decoded)
        state.counters["reports/s"] =
            benchmark::Counter(iterations * static_cast<double>(s.goodReports), benchmark::Counter::kIsRate);
    state.counters["MB/s"] = benchmark::Counter(iterations * static_cast<double>(s.bytes.size()) / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_ReassembleDecode(benchmark::State &state) {
    const MixedStream &s = Stream();
    const auto readSize = static_cast<std::size_t>(state.range(0));
    auto stream = std::make_unique<Reassembly>();
    FrameBuffer msg;
    for (auto _ : state) {
        stream->Reset();
        DecodeCount sink;
        for (std::size_t at = 0; at < s.bytes.size(); at += readSize) {
            const std::size_t n = std::min(readSize, s.bytes.size() - at);
            stream->SaveMessage(s.bytes.data() + at, static_cast<int>(n));
            while (stream->TakeMessage(msg)) sink.Decode(msg);
        }
        benchmark::DoNotOptimize(sink.mix);
        if (sink.frames != s.goodReports || stream->DroppedFrames != 0) {
            state.SkipWithError("a report was lost or made up");
            break;
        }
    }
    SetRates(state, s, true);
}
BENCHMARK(BM_ReassembleDecode)->Arg(32768)->Arg(512)->Unit(benchmark::kMillisecond);

void BM_MemcpyCeiling(benchmark::State &state) {
    const MixedStream &s = Stream();
    const auto readSize = static_cast<std::size_t>(state.range(0));
    auto buffer = std::make_unique<uint8_t[]>(readSize);
    for (auto _ : state) {
        for (std::size_t at = 0; at < s.bytes.size(); at += readSize) {
            const std::size_t n = std::min(readSize, s.bytes.size() - at);
            std::memcpy(buffer.get(), s.bytes.data() + at, n);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(buffer.get());
    }
    SetRates(state, s, false);
}
BENCHMARK(BM_MemcpyCeiling)->Arg(32768)->Arg(512)->Unit(benchmark::kMillisecond);

}  // namespace
