// The receive path under a link that never runs dry, the receive event's registration, and the order in
// which pump results reach the labels.
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "ReceiveFixture.h"
#include "SimBackend.h"
#include "UnitThread.h"

namespace {

// A link that always has a full buffer of CAN frame reports waiting, until it is "unplugged".
namespace flood {
std::atomic<bool> plugged{true};
std::atomic<uint64_t> probes{0}, reads{0}, registrations{0};
std::atomic<DWORD> lastMask{0};
std::atomic<void *> lastParam{nullptr};
std::atomic<uintptr_t> openHandle{0}, registeredHandle{0};
uintptr_t nextHandle = 100;
std::size_t streamPos = 0;  // receive thread only (reads)

FT_STATUS List(void *count, void *, DWORD) {
    *static_cast<DWORD *>(count) = plugged ? 1 : 0;
    return FT_OK;
}
FT_STATUS Open(int, FT_HANDLE *h) {
    if (!plugged) return FT_DEVICE_NOT_FOUND;
    openHandle = ++nextHandle;
    *h = reinterpret_cast<FT_HANDLE>(openHandle.load());
    return FT_OK;
}
FT_STATUS Close(FT_HANDLE) { return FT_OK; }
FT_STATUS Reset(FT_HANDLE) { return FT_OK; }
FT_STATUS Timeouts(FT_HANDLE, ULONG, ULONG) { return FT_OK; }
FT_STATUS Queue(FT_HANDLE, DWORD *rx) {
    probes.fetch_add(1);
    if (!plugged) return FT_IO_ERROR;
    *rx = LinkBufferSize;
    return FT_OK;
}
FT_STATUS Status(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *ev) {
    if (!plugged) return FT_IO_ERROR;
    *rx = LinkBufferSize;
    *tx = *ev = 0;
    return FT_OK;
}
FT_STATUS Read(FT_HANDLE, void *buffer, DWORD count, DWORD *done) {
    if (!plugged) return FT_IO_ERROR;
    auto *out = static_cast<uint8_t *>(buffer);
    for (DWORD i = 0; i < count; ++i) out[i] = CanReport1234[(streamPos + i) % CanReport1234.size()];
    streamPos = (streamPos + count) % CanReport1234.size();
    *done = count;
    reads.fetch_add(1);
    return FT_OK;
}
FT_STATUS Write(FT_HANDLE, void *, DWORD count, DWORD *done) {
    *done = count;
    return FT_OK;
}
FT_STATUS Event(FT_HANDLE h, DWORD mask, void *param) {
    registrations.fetch_add(1);
    lastMask = mask;
    lastParam = param;
    registeredHandle = reinterpret_cast<uintptr_t>(h);
    return h ? FT_OK : FT_INVALID_HANDLE;
}
D2xxApi Api() {
    return D2xxApi{&List, &Open, &Close, &Reset, &Timeouts, &Queue, &Status, &Read, &Write, &Event};
}
}  // namespace flood

class FloodWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        flood::plugged = true;
        flood::probes = flood::reads = flood::registrations = 0;
        ResetProcessState();
        InstallD2xxApi(flood::Api());
        WindowOptions options;
        options.SettingsDir = dir_.path() + "/";
        w = std::make_unique<TfrmMain>(options);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    void TearDown() override {
        if (w) w->close();
        w.reset();
        ResetProcessState();
    }

    std::unique_ptr<TfrmMain> w;

private:
    QTemporaryDir dir_;
};

}  // namespace

// Every open registers the receive event anew, on the handle just opened, for received characters; a
// registration made before (at the thread's start, on no handle) ends with the handle it was made on.
TEST_F(FloodWindow, TheReceiveEventIsRegisteredOnEveryOpenedHandle) {
    ASSERT_TRUE(WaitFor([&] { return DevicePresent.load(); }, ReceiveWaitMs));
    EXPECT_EQ(flood::registeredHandle.load(), flood::openHandle.load());
    EXPECT_EQ(flood::lastMask.load(), FT_EVENT_RXCHAR);
    EXPECT_EQ(flood::lastParam.load(), static_cast<void *>(&RxEvent()));
    const uint64_t afterFirstOpen = flood::registrations.load();

    flood::plugged = false;
    ASSERT_TRUE(WaitFor([&] { return !DevicePresent.load(); }, ReceiveWaitMs));
    flood::plugged = true;
    ASSERT_TRUE(WaitFor([&] { return DevicePresent.load(); }, ReceiveWaitMs));
    EXPECT_EQ(flood::registrations.load(), afterFirstOpen + 1);
    EXPECT_EQ(flood::registeredHandle.load(), flood::openHandle.load());
}

// Reads that always come back full: the receive thread passes back to back, yet the presence watch keeps
// probing, an unplug is seen, and closing the window stops the thread.
TEST_F(FloodWindow, AFloodStarvesNeitherThePresenceWatchNorClosing) {
    ASSERT_TRUE(WaitFor([&] { return DevicePresent.load() && flood::reads.load() > 20; }, ReceiveWaitMs));
    const uint64_t probesBefore = flood::probes.load();
    const uint64_t readsBefore = flood::reads.load();
    ASSERT_TRUE(WaitFor([&] { return flood::probes.load() >= probesBefore + 5; }, ReceiveWaitMs))
        << "presence probes during the flood: " << flood::probes.load() - probesBefore;
    EXPECT_GT(flood::reads.load(), readsBefore + 5);  // and the flood went on meanwhile
    EXPECT_GT(MessageCount.load(), 1000);

    flood::plugged = false;
    ASSERT_TRUE(WaitFor([&] { return !DevicePresent.load(); }, ReceiveWaitMs));
    EXPECT_EQ(w->windowTitle(), QString(TitleLost));

    flood::plugged = true;
    ASSERT_TRUE(WaitFor([&] { return DevicePresent.load() && flood::reads.load() > readsBefore + 50; },
                        ReceiveWaitMs));
    const uint64_t passes = w->ReceivePasses();
    w->close();  // stops the receive thread in the middle of the flood; a hang fails the test run
    EXPECT_FALSE(DevicePresent.load());
    EXPECT_GE(passes, 50u);
    const uint64_t readsAtClose = flood::reads.load();
    std::this_thread::yield();
    EXPECT_EQ(flood::reads.load(), readsAtClose);  // nothing reads after closing
}

// A pump on the window thread (Ctrl+R) must not be overtaken by an older result of the receive thread
// that is still on its way to the window.
TEST_F(ReceiveWindow, ACtrlRResultIsNotOvertakenByAnOlderQueuedOne) {
    PlugAndFind();
    Inject(CanReport1234);  // identifier 0x123
    // The receive thread pumps it; its result waits for the window thread, which dispatches nothing now.
    for (int i = 0; i < 2000 && MessageCount.load() < 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(MessageCount.load(), 1);

    // The receive thread finds nothing to pump from here on; Ctrl+R reads the next frame itself.
    TheSimAdapter().FailNext(SimOp::GetStatus, FT_IO_ERROR, 1 << 30);
    Bytes newer = CanReport1234;  // identifier 0x456
    newer[10] = 0x8A;
    newer[11] = 0xC0;
    newer[23] ^= 0x24 ^ 0x8A ^ 0x60 ^ 0xC0;
    Inject(newer);
    w->FTReceiveFileExecute();
    EXPECT_EQ(Text(w->lblID), "00000456");
    QCoreApplication::processEvents();
    EXPECT_EQ(Text(w->lblID), "00000456");
    EXPECT_EQ(Text(w->lblMessCount), "2");
    TheSimAdapter().FailNext(SimOp::GetStatus, FT_IO_ERROR, 0);
}
