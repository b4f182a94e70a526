// The trace log's cost per line: formatting alone, and formatting plus the writes, into /dev/null and
// into a file, with the pump's batch size as argument (8,520 is one 100 ms pump at 85,200 reports/s).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "CandumpLine.h"
#include "TraceLog.h"

namespace {

constexpr uint8_t Data[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

void SetLineRate(benchmark::State &state, long linesPerIteration) {
    state.counters["lines/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * linesPerIteration, benchmark::Counter::kIsRate);
}

void BM_TraceFormatLine(benchmark::State &state) {
    std::array<char, candump::MaxLineLength> line{};
    uint32_t id = 0;
    for (auto _ : state) {
        const std::size_t n = candump::FormatCanFrame(
            line, {1733655296, 123000}, candump::DefaultInterfaceName, id++ & 0x7FF, 8, false, Data);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    SetLineRate(state, 1);
}
BENCHMARK(BM_TraceFormatLine);

// One iteration is one read's batch: state.range(0) frames on a set adapter clock, arriving a millisecond
// after their stamps, so the clock's local time lookups and placing on the day are in the figure.
void RunPumps(benchmark::State &state, TraceLog &log, const std::string &truncatePath) {
    const long perPump = state.range(0);
    std::vector<BusEvent> batch(static_cast<std::size_t>(perPump));
    const int64_t midnight = int64_t{1733616000} * 1000000;  // 2024-12-08 UTC
    long frame = 0;
    long written = 0;
    for (auto _ : state) {
        for (BusEvent &e : batch) {
            const long ms = frame % (24L * 3600 * 1000);
            e.kind = BusEvent::Kind::Frame;
            e.id = static_cast<uint32_t>(frame & 0x7FF);
            e.info = e.dlc = 8;
            std::copy(Data, Data + 8, e.data);
            e.adapterMs = static_cast<int32_t>(ms);
            e.arrivalUs = midnight + int64_t{frame} / (24L * 3600 * 1000) * 86'400'000'000 + (ms + 1) * 1000;
            e.adapterClockSet = true;
            ++frame;
        }
        log.Log(batch);
        written += perPump;
        if (!truncatePath.empty() && written > 1000000) {  // keep the file to some 50 MB
            state.PauseTiming();
            if (::truncate(truncatePath.c_str(), 0) != 0) state.SkipWithError("cannot truncate the log");
            written = 0;
            state.ResumeTiming();
        }
    }
    if (log.Failed()) state.SkipWithError("the log failed");
    SetLineRate(state, perPump);
}

void BM_TraceLogDevNull(benchmark::State &state) {
    TraceLog log;
    std::string why;
    // A device is no log file (TraceLog::Open refuses it): handed over as a descriptor.
    if (!log.OpenDescriptor(::open("/dev/null", O_WRONLY | O_CLOEXEC), true, "/dev/null", why))
        state.SkipWithError(why.c_str());
    RunPumps(state, log, {});
}
BENCHMARK(BM_TraceLogDevNull)->Arg(1)->Arg(64)->Arg(8520);

void BM_TraceLogFile(benchmark::State &state) {
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/trace.log").toStdString();
    TraceLog log;
    std::string why;
    if (!log.Open(path, why)) state.SkipWithError(why.c_str());
    RunPumps(state, log, path);
}
BENCHMARK(BM_TraceLogFile)->Arg(64)->Arg(8520);

}  // namespace
