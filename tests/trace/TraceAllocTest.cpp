// Logging a frame allocates nothing: global operator new is replaced for this whole test program and
// counts only on a thread that armed it.
#include <atomic>
#include <cstdlib>
#include <new>

#include "CountingNew.h"
#include "TraceSupport.h"


namespace {

TEST(TraceLogAlloc, FramesErrorsAndPumpsAllocateNothing) {
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    QTemporaryDir dir;
    TraceLogOptions options;
    options.onError = [](const std::string &, const std::string &) {};
    TraceLog log(options);
    std::string why;
    ASSERT_TRUE(log.Open((dir.path() + "/trace.log").toStdString(), why)) << why;
    {
        allocations.store(0);
        counting = true;
        auto probe = std::make_unique<int>(1);
        counting = false;
        ASSERT_EQ(allocations.load(), 1) << "the counter does not count";
    }
    // Enough lines to fill the buffer more than once, through a midnight and every hour of a day, on a
    // set clock and not.
    std::vector<BusEvent> batch;
    for (int i = 0; i < 5000; ++i) {
        const int hour = (20 + i / 200) % 24;
        const int64_t arrival = DefaultTestNowUs + int64_t{i} * 600'000'000 / 50;
        batch.push_back(EventOf({hour, i % 60, 0, i % 1000, 0x123 + static_cast<uint32_t>(i),
                                 static_cast<uint8_t>(i % 9), i % 7 == 0, {1, 2, 3, 4, 5, 6, 7, 8}},
                                arrival, i % 3 != 0));
        if (i % 100 == 0) batch.push_back(ErrorEvent(static_cast<uint8_t>(i), arrival));
    }
    allocations.store(0);
    counting = true;
    for (std::size_t at = 0; at < batch.size(); at += 250)
        log.Log(std::span<const BusEvent>(batch).subspan(at, std::min<std::size_t>(250, batch.size() - at)));
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_FALSE(log.Failed());
}

}  // namespace
