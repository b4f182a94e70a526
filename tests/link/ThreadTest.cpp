// The receive thread and its wake-up event.
#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "D2XXUnit.h"
#include "LinkTestSupport.h"
#include "SimAdapter.h"
#include "UnitThread.h"

namespace {
bool CountPass(void *counter) {
    static_cast<std::atomic<int> *>(counter)->fetch_add(1);
    return false;
}
}  // namespace

TEST(RxEvent, SetEndsOneWaitOnly) {
    RxEventObject &e = RxEvent();
    e.Wait(std::chrono::milliseconds(0));  // whatever an earlier test left set
    e.Set();
    e.Wait(std::chrono::milliseconds(60000));  // returns at once, or this test hangs
    EXPECT_EQ(e.iVar, 0);
    // A set from another thread wakes a waiter.
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        e.Set();
    });
    e.Wait(std::chrono::milliseconds(60000));
    setter.join();
    EXPECT_EQ(e.iVar, 0);
}

TEST(EventThread, PassesUntilStoppedAndNoneAfter) {
    std::atomic<int> passes{0};
    TEventThread thread(false, &CountPass, &passes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return passes.load() >= 2; }, 2000));
    thread.Stop();
    const int atStop = passes.load();
    EXPECT_FALSE(thread.isRunning());  // joined: no pass can follow
    EXPECT_EQ(passes.load(), atStop);
}

// A pass that always asks for another at once (reads keep coming back full) never waits on the event,
// and the stop request is still seen between two passes.
TEST(EventThread, StopIsSeenBetweenPassesThatFollowAtOnce) {
    std::atomic<int> passes{0};
    TEventThread thread(
        false,
        [](void *counter) {
            static_cast<std::atomic<int> *>(counter)->fetch_add(1);
            return true;
        },
        &passes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return passes.load() >= 1000; }, 5000));
    EXPECT_GE(thread.ImmediatePasses(), 900u);
    thread.Stop();  // a loop that never looked at the request would hang here
    EXPECT_FALSE(thread.isRunning());
}

TEST(EventThread, SuspendedDoesNotRunAndStopsCleanly) {
    std::atomic<int> passes{0};
    {
        TEventThread thread(true, &CountPass, &passes);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_FALSE(thread.isRunning());
    }
    EXPECT_EQ(passes.load(), 0);
}

TEST(EventThread, RunsAtTheHighestPriority) {
    std::atomic<int> passes{0};
    TEventThread thread(false, &CountPass, &passes);
    EXPECT_EQ(thread.priority(), QThread::HighestPriority);
}

// Registered on an open handle of the emulated adapter, arriving bytes end the wait early. The thread
// registers once at creation; the presence watch registers again at every open.
TEST(EventThread, RegistersAtCreationAndTheEmulatorSignalsIt) {
    const EmulatedLinkOpen link;
    ASSERT_TRUE(link.Opened());
    SimAdapter &sim = TheSimAdapter();
    std::atomic<int> passes{0};
    {
        TEventThread thread(false, &CountPass, &passes);
        EXPECT_EQ(sim.CallCount(SimOp::SetEventNotification), 1u);
        const uint8_t byte = 0x55;
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(sim.InjectToHost(&byte, 1), 1u);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return thread.EventWakes() >= 1; }, 2000));
        thread.Stop();
        EXPECT_EQ(sim.CallCount(SimOp::SetEventNotification), 1u);
    }
}
