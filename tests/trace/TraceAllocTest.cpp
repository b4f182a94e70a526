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
    TraceLogOptions options;  // the real clocks
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
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    allocations.store(0);
    counting = true;
    // Enough lines to fill the buffer more than once, through a midnight and every hour of a day.
    for (int i = 0; i < 5000; ++i) {
        const int hour = (20 + i / 200) % 24;
        log.CanFrame(hour, i % 60, 0, i % 1000, 0x123 + static_cast<uint32_t>(i), static_cast<uint8_t>(i % 9),
                     i % 7 == 0, data);
        if (i % 100 == 0) log.BusError(static_cast<uint8_t>(i));
        if (i % 250 == 0) log.EndOfPump();
    }
    log.EndOfPump();
    counting = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_FALSE(log.Failed());
}

}  // namespace
