// Cutting and decoding allocate nothing, however many frames a read brings. Global operator new is
// replaced for this whole test program; it only counts while a test has armed it on its own thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "CountingNew.h"
#include "Decode.h"
#include "Reassembly.h"



TEST(ReassemblyAlloc, ThousandFramesAllocateNothing) {
    const std::vector<uint8_t> report{0xFA, 0xF5, 0x0B, 0x13, 0x00, 0x0C, 0x22, 0x38, 0x03,
                                      0xE7, 0x24, 0x60, 0x00, 0x00, 0x02, 0x11, 0x22, 0x00,
                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x9F, 0xAF, 0x5F};
    std::vector<uint8_t> read;
    for (int i = 0; i < 1000; ++i) read.insert(read.end(), report.begin(), report.end());
    auto stream = std::make_unique<Reassembly>();
    long frames = 0;
    BusEvent event;

    {
        counting = true;
        auto probe = std::make_unique<int>(1);
        counting = false;
        ASSERT_EQ(allocations.exchange(0), 1) << "the counter does not count";
    }
    counting = true;
    // Two reads that split a frame, so the carry is used too.
    stream->SaveMessage(read.data(), 13001);
    FrameBuffer msg;
    while (stream->TakeMessage(msg)) frames += DecodeMessage(msg, false, event) == Decoded::Event;
    stream->SaveMessage(read.data() + 13001, static_cast<int>(read.size()) - 13001);
    while (stream->TakeMessage(msg)) frames += DecodeMessage(msg, false, event) == Decoded::Event;
    counting = false;

    EXPECT_EQ(frames, 1000);
    EXPECT_EQ(allocations.load(), 0);
}
