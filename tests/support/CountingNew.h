// Counting allocations: global operator new is replaced in every test program (CountingNew.cpp). It counts
// only on a thread that set `counting`, so a test measures its own code and nothing Qt or gtest does
// elsewhere.
//   counting = true; pump(); counting = false; EXPECT_EQ(allocations.exchange(0), 0);
#pragma once

#include <atomic>

extern thread_local bool counting;
extern std::atomic<long> allocations;
