// The adapter emulator as the D2XX library's user sees it: device count and handles that follow the plug,
// honest time-outs, the two pipes, the event sink, the firmware hook and fault injection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "RxEvent.h"
#include "SimAdapter.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

class SimAdapterTest : public ::testing::Test {
protected:
    // Plugged in, opened, with the given time-outs.
    FT_HANDLE OpenWithTimeouts(ULONG readMs, ULONG writeMs) {
        sim->Plug();
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(sim->Open(0, &handle), FT_OK);
        EXPECT_EQ(sim->SetTimeouts(handle, readMs, writeMs), FT_OK);
        return handle;
    }
    void Inject(std::initializer_list<uint8_t> bytes) {
        const std::vector<uint8_t> data(bytes);
        ASSERT_EQ(sim->InjectToHost(data.data(), data.size()), data.size());
    }

    std::unique_ptr<SimAdapter> sim = std::make_unique<SimAdapter>();
};

// The device count and the handles follow the plug and the D2XX rules: only device 0, busy while open,
// a new handle per open, and closing anything but the open handle is refused and harmless.
TEST_F(SimAdapterTest, CountAndHandlesFollowThePlugAndTheD2xxRules) {
    DWORD count = 77;
    EXPECT_EQ(sim->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(sim->ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(sim->Open(0, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(sim->Close(nullptr), FT_OK);

    sim->Plug();
    EXPECT_EQ(sim->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(sim->Open(1, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(sim->Open(0, &handle), FT_OK);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(sim->OpenHandle(), handle);
    FT_HANDLE second = nullptr;
    EXPECT_EQ(sim->Open(0, &second), FT_DEVICE_NOT_OPENED);  // busy, as a real device is
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(sim->Close(nullptr), FT_OK);
    EXPECT_NE(sim->Close(reinterpret_cast<FT_HANDLE>(uintptr_t{0x1234})), FT_OK);
    DWORD rx = 0;
    EXPECT_EQ(sim->GetQueueStatus(handle, &rx), FT_OK);  // the open handle is untouched
    EXPECT_EQ(sim->Close(handle), FT_OK);
    EXPECT_EQ(sim->Close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(sim->Open(0, &second), FT_OK);
    EXPECT_NE(second, handle);  // each connection has its own handle
    EXPECT_EQ(sim->GetQueueStatus(handle, &rx), FT_INVALID_HANDLE);
    EXPECT_EQ(sim->GetQueueStatus(second, &rx), FT_OK);
    EXPECT_EQ(sim->Close(second), FT_OK);
    EXPECT_FALSE(sim->IsOpen());

    sim->Unplug();
    EXPECT_EQ(sim->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(SimAdapterTest, UnplugLosesTheHandleUntilItIsClosed) {
    FT_HANDLE old = OpenWithTimeouts(10, 10);
    Inject({1, 2, 3});
    sim->Unplug();

    DWORD rx = 99, tx = 0, events = 0, count = 99;
    uint8_t buffer[8] = {};
    EXPECT_EQ(sim->GetQueueStatus(old, &rx), FT_IO_ERROR);
    EXPECT_EQ(sim->GetStatus(old, &rx, &tx, &events), FT_IO_ERROR);
    EXPECT_EQ(sim->Read(old, buffer, 8, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(sim->Write(old, buffer, 8, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);

    // Plugged in again, the old handle stays dead; closing it releases it and a new open works.
    sim->Plug();
    EXPECT_EQ(sim->GetQueueStatus(old, &rx), FT_IO_ERROR);
    EXPECT_EQ(sim->Close(old), FT_OK);
    EXPECT_NE(sim->Close(old), FT_OK);
    FT_HANDLE fresh = nullptr;
    ASSERT_EQ(sim->Open(0, &fresh), FT_OK);
    EXPECT_EQ(sim->GetQueueStatus(fresh, &rx), FT_OK);
    EXPECT_EQ(rx, 0u);  // what waited before the unplug went with it
    EXPECT_EQ(sim->GetQueueStatus(old, &rx), FT_INVALID_HANDLE);
}

// A read returns at once when enough waits, otherwise after its time-out with what there is (maybe
// nothing).
TEST_F(SimAdapterTest, ReadReturnsAtOnceWhenEnoughIsWaitingOtherwiseAfterTheTimeout) {
    FT_HANDLE handle = OpenWithTimeouts(60, 10);
    uint8_t buffer[16] = {};
    DWORD count = 99;
    auto start = Clock::now();
    EXPECT_EQ(sim->Read(handle, buffer, sizeof buffer, &count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(ElapsedMs(start), 55);

    ASSERT_EQ(sim->SetTimeouts(handle, 5000, 10), FT_OK);
    Inject({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    start = Clock::now();
    EXPECT_EQ(sim->Read(handle, buffer, 4, &count), FT_OK);
    EXPECT_LT(ElapsedMs(start), 2500);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{1, 2, 3, 4}));

    ASSERT_EQ(sim->SetTimeouts(handle, 30, 10), FT_OK);
    start = Clock::now();
    EXPECT_EQ(sim->Read(handle, buffer, 16, &count), FT_OK);
    EXPECT_GE(ElapsedMs(start), 25);
    ASSERT_EQ(count, 6u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 6), (std::vector<uint8_t>{5, 6, 7, 8, 9, 10}));
}

TEST_F(SimAdapterTest, WaitingReadEndsWhenTheBytesArrive) {
    FT_HANDLE handle = OpenWithTimeouts(10000, 10);
    std::thread adapter([this] {
        std::this_thread::sleep_for(milliseconds(30));
        const uint8_t bytes[8] = {8, 7, 6, 5, 4, 3, 2, 1};
        sim->InjectToHost(bytes, 4);
        sim->InjectToHost(bytes + 4, 4);
    });
    uint8_t buffer[8] = {};
    DWORD count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(sim->Read(handle, buffer, 8, &count), FT_OK);
    EXPECT_LT(ElapsedMs(start), 8000);
    adapter.join();
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(buffer[7], 1);
}

TEST_F(SimAdapterTest, CloseOnAnotherThreadEndsAWaitingRead) {
    FT_HANDLE handle = OpenWithTimeouts(10000, 10);
    std::thread closer([this, handle] {
        std::this_thread::sleep_for(milliseconds(30));
        sim->Close(handle);
    });
    uint8_t buffer[8];
    DWORD count = 99;
    const auto start = Clock::now();
    EXPECT_EQ(sim->Read(handle, buffer, 8, &count), FT_INVALID_HANDLE);
    EXPECT_LT(ElapsedMs(start), 8000);
    closer.join();
    EXPECT_EQ(count, 0u);
}

TEST_F(SimAdapterTest, WritesReachTheAdapterSideInOrder) {
    FT_HANDLE handle = OpenWithTimeouts(10, 10);
    uint8_t frame[7] = {0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};
    DWORD written = 0;
    EXPECT_EQ(sim->Write(handle, frame, 7, &written), FT_OK);
    EXPECT_EQ(written, 7u);
    DWORD rx = 1, tx = 0, events = 1;
    EXPECT_EQ(sim->GetStatus(handle, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(rx, 0u);
    EXPECT_EQ(tx, 7u);
    EXPECT_EQ(events, 0u);
    uint8_t out[16] = {};
    ASSERT_EQ(sim->DrainFromHost(out, sizeof out), 7u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 7), std::vector<uint8_t>(frame, frame + 7));
    EXPECT_EQ(sim->BytesFromHost(), 0u);
}

TEST_F(SimAdapterTest, AFullPipeGivesAShortWriteAfterTheWriteTimeout) {
    FT_HANDLE handle = OpenWithTimeouts(10, 40);
    static uint8_t block[32768];
    DWORD written = 0;
    for (std::size_t filled = 0; filled < SimAdapter::PipeCapacity; filled += sizeof block) {
        ASSERT_EQ(sim->Write(handle, block, sizeof block, &written), FT_OK);
        ASSERT_EQ(written, sizeof block);
    }
    auto start = Clock::now();
    EXPECT_EQ(sim->Write(handle, block, 100, &written), FT_OK);
    EXPECT_EQ(written, 0u);
    EXPECT_GE(ElapsedMs(start), 35);

    uint8_t sink[40];
    ASSERT_EQ(sim->DrainFromHost(sink, sizeof sink), sizeof sink);
    EXPECT_EQ(sim->Write(handle, block, 100, &written), FT_OK);
    EXPECT_EQ(written, 40u);
}

TEST_F(SimAdapterTest, StatusCountsAndResetFlushBothPipes) {
    FT_HANDLE handle = OpenWithTimeouts(10, 10);
    Inject({1, 2, 3, 4, 5});
    uint8_t frame[3] = {9, 9, 9};
    DWORD written = 0, rx = 0, tx = 0, events = 0;
    ASSERT_EQ(sim->Write(handle, frame, 3, &written), FT_OK);
    EXPECT_EQ(sim->GetQueueStatus(handle, &rx), FT_OK);
    EXPECT_EQ(rx, 5u);
    EXPECT_EQ(sim->GetStatus(handle, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(rx, 5u);
    EXPECT_EQ(tx, 3u);
    EXPECT_EQ(sim->ResetDevice(handle), FT_OK);
    EXPECT_EQ(sim->GetStatus(handle, &rx, &tx, &events), FT_OK);
    EXPECT_EQ(rx, 0u);
    EXPECT_EQ(tx, 0u);
}

TEST_F(SimAdapterTest, TimeoutsBelongToTheOpenHandle) {
    sim->Plug();
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(sim->Open(0, &handle), FT_OK);
    ULONG readMs = 0, writeMs = 0;
    ASSERT_TRUE(sim->Timeouts(readMs, writeMs));
    EXPECT_EQ(readMs, ULONG(SimAdapter::DefaultTimeout.count()));
    ASSERT_EQ(sim->SetTimeouts(handle, 10, 20), FT_OK);
    ASSERT_TRUE(sim->Timeouts(readMs, writeMs));
    EXPECT_EQ(readMs, 10u);
    EXPECT_EQ(writeMs, 20u);
    EXPECT_EQ(sim->SetTimeouts(nullptr, 1, 1), FT_INVALID_HANDLE);
    ASSERT_EQ(sim->Close(handle), FT_OK);
    EXPECT_FALSE(sim->Timeouts(readMs, writeMs));
    ASSERT_EQ(sim->Open(0, &handle), FT_OK);
    ASSERT_TRUE(sim->Timeouts(readMs, writeMs));
    EXPECT_EQ(writeMs, ULONG(SimAdapter::DefaultTimeout.count()));
}

TEST_F(SimAdapterTest, NothingReachesTheHostWhileUnplugged) {
    const uint8_t bytes[2] = {1, 2};
    EXPECT_EQ(sim->InjectToHost(bytes, 2), 0u);
    sim->Plug();
    EXPECT_EQ(sim->InjectToHost(bytes, 2), 2u);  // buffered by the chip until the host opens and reads
    EXPECT_EQ(sim->BytesToHost(), 2u);
}

TEST_F(SimAdapterTest, EventIsSetOnlyWhileRegisteredOnTheOpenHandle) {
    RxEventObject event;
    void *param = &event;
    auto wasSet = [&] { return event.Wait(std::chrono::milliseconds(0)); };  // and resets it
    sim->Plug();
    // Registered on the null handle: refused, never set.
    EXPECT_EQ(sim->SetEventNotification(nullptr, FT_EVENT_RXCHAR, param), FT_INVALID_HANDLE);
    Inject({1});
    EXPECT_FALSE(wasSet());

    FT_HANDLE handle = nullptr;
    ASSERT_EQ(sim->Open(0, &handle), FT_OK);
    ASSERT_EQ(sim->SetEventNotification(handle, FT_EVENT_RXCHAR, param), FT_OK);
    Inject({2, 3});
    EXPECT_TRUE(wasSet());
    Inject({4});
    EXPECT_TRUE(wasSet());
    EXPECT_FALSE(wasSet());
    ASSERT_EQ(sim->Close(handle), FT_OK);
    Inject({5});
    EXPECT_FALSE(wasSet());  // the registration ended with its handle

    ASSERT_EQ(sim->Open(0, &handle), FT_OK);
    ASSERT_EQ(sim->SetEventNotification(handle, 0, param), FT_OK);  // mask without RXCHAR
    Inject({6});
    EXPECT_FALSE(wasSet());
}

// Answers every byte the host writes with the byte plus one, and notes the power changes.
struct EchoFirmware : SimFirmware {
    std::vector<uint8_t> seen;
    std::vector<bool> power;
    void OnHostBytes(SimAdapter &adapter, const uint8_t *data, std::size_t count) override {
        seen.insert(seen.end(), data, data + count);
        for (std::size_t i = 0; i < count; ++i) {
            const uint8_t answer = static_cast<uint8_t>(data[i] + 1);
            adapter.InjectToHost(&answer, 1);
        }
    }
    void OnPowerChange(SimAdapter &, bool plugged) override { power.push_back(plugged); }
};

TEST_F(SimAdapterTest, FirmwareGetsEveryHostByteInOrderAndCanAnswer) {
    EchoFirmware firmware;
    sim->SetFirmware(&firmware);
    FT_HANDLE handle = OpenWithTimeouts(10, 10);
    std::vector<uint8_t> big(3 * SimAdapter::FirmwareChunk + 17);
    std::iota(big.begin(), big.end(), uint8_t{0});
    DWORD written = 0;
    ASSERT_EQ(sim->Write(handle, big.data(), static_cast<DWORD>(big.size()), &written), FT_OK);
    EXPECT_EQ(written, big.size());
    EXPECT_EQ(firmware.seen, big);
    EXPECT_EQ(sim->BytesFromHost(), 0u);
    EXPECT_EQ(sim->BytesToHost(), big.size());
    uint8_t first[2] = {};
    DWORD count = 0;
    ASSERT_EQ(sim->Read(handle, first, 2, &count), FT_OK);
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(first[1], 2);

    sim->Unplug();
    sim->Plug();
    EXPECT_EQ(firmware.power, (std::vector<bool>{true, false, true}));
    sim->SetFirmware(nullptr);
}

TEST_F(SimAdapterTest, InjectedFaultsHitTheNextCallsOnlyAndCallsAreCounted) {
    FT_HANDLE handle = OpenWithTimeouts(10, 10);
    sim->ResetCallCounts();
    sim->FailNext(SimOp::GetQueueStatus, FT_IO_ERROR);
    sim->FailNext(SimOp::Read, FT_INSUFFICIENT_RESOURCES, 2);
    DWORD rx = 0, count = 0;
    uint8_t buffer[4];
    EXPECT_EQ(sim->GetQueueStatus(handle, &rx), FT_IO_ERROR);
    EXPECT_EQ(sim->GetQueueStatus(handle, &rx), FT_OK);
    EXPECT_EQ(sim->Read(handle, buffer, 0, &count), FT_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(sim->Read(handle, buffer, 0, &count), FT_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(sim->Read(handle, buffer, 0, &count), FT_OK);
    EXPECT_EQ(sim->CallCount(SimOp::GetQueueStatus), 2u);
    EXPECT_EQ(sim->CallCount(SimOp::Read), 3u);
    EXPECT_EQ(sim->CallCount(SimOp::GetStatus), 0u);
    EXPECT_EQ(sim->CallCount(SimOp::Open), 0u);
}

// The window thread writes and probes, the receive thread polls and reads, a third thread plugs and
// unplugs; every worker re-opens after a loss as the presence watch would. Nothing may crash or hang
// and the adapter must be usable afterwards.
TEST_F(SimAdapterTest, PlugAndUnplugWhileOtherThreadsReadAndWrite) {
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, writes{0}, plugs{0};
    EchoFirmware firmware;  // answers on the writer's thread, so bytes flow both ways
    sim->SetFirmware(&firmware);
    sim->Plug();

    auto worker = [&](bool writer) {
        uint8_t buffer[512] = {};
        while (!stop) {
            FT_HANDLE handle = sim->OpenHandle();
            DWORD rx = 0, tx = 0, events = 0, count = 0;
            if (handle == nullptr) {
                FT_HANDLE opened = nullptr;
                if (sim->Open(0, &opened) == FT_OK) sim->SetTimeouts(opened, 2, 2);
                std::this_thread::sleep_for(milliseconds(1));
                continue;
            }
            if (writer) {
                if (sim->Write(handle, buffer, sizeof buffer, &count) == FT_OK) ++writes;
                sim->GetQueueStatus(handle, &rx);
            } else if (sim->GetStatus(handle, &rx, &tx, &events) == FT_OK) {
                if (sim->Read(handle, buffer, sizeof buffer, &count) == FT_OK) ++reads;
            }
        }
    };
    std::thread window(worker, true), receive(worker, false);
    std::thread plugger([&] {
        const auto end = Clock::now() + milliseconds(400);
        while (Clock::now() < end) {
            sim->Unplug();
            std::this_thread::sleep_for(milliseconds(3));
            sim->Plug();
            ++plugs;
            std::this_thread::sleep_for(milliseconds(15));
        }
    });
    plugger.join();
    stop = true;
    window.join();
    receive.join();
    sim->SetFirmware(nullptr);

    EXPECT_GT(plugs.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(writes.load(), 0);
    FT_HANDLE handle = sim->OpenHandle();
    if (handle) {
        EXPECT_EQ(sim->Close(handle), FT_OK);
    }
    ASSERT_EQ(sim->Open(0, &handle), FT_OK);
    DWORD rx = 0;
    EXPECT_EQ(sim->GetQueueStatus(handle, &rx), FT_OK);
}

}  // namespace
