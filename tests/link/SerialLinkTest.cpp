// The serial backend on a pseudo-terminal made by the test: the test writes and reads the adapter's side.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "BackendSerial.h"
#include "RxEvent.h"
#include "SerialPty.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Only bounds a hung call; nothing here is timed more tightly than this.
constexpr milliseconds Generous{2000};

milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class SerialOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        SerialSettings settings;
        settings.path = pty.Slave();
        link.Configure(settings);
    }
    void TearDown() override {
        if (handle) link.Close(handle);
    }
    void OpenLink(ULONG readMs = 100, ULONG writeMs = 100) {
        ASSERT_EQ(link.Open(0, &handle), FT_OK);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(link.SetTimeouts(handle, readMs, writeMs), FT_OK);
    }
    // Reads until `count` bytes have come (several reads of the link), within Generous.
    std::vector<uint8_t> ReadLink(std::size_t count) {
        std::vector<uint8_t> got(count);
        std::size_t done = 0;
        const auto start = Clock::now();
        while (done < count && Since(start) < milliseconds(5000)) {
            DWORD n = 0;
            EXPECT_EQ(link.Read(handle, got.data() + done, static_cast<DWORD>(count - done), &n), FT_OK);
            done += n;
        }
        got.resize(done);
        return got;
    }
    DWORD RxWaiting() {
        DWORD rx = 0, tx = 0, event = 0;
        EXPECT_EQ(link.GetStatus(handle, &rx, &tx, &event), FT_OK);
        return rx;
    }
    bool Probe() {
        DWORD count = 0;
        return link.GetQueueStatus(handle, &count) == FT_OK;
    }

    TestPty pty;
    SerialLink link;
    FT_HANDLE handle = nullptr;
};

TEST_F(SerialOnPty, RawBytesTravelUnchangedBothWays) {
    OpenLink();
    // Bytes a cooked terminal would eat or change: NUL, ^C, ^D, XON/XOFF, CR, LF, DEL, 0xFF.
    const std::vector<uint8_t> awkward{0xFA, 0xF5, 0x00, 0x03, 0x04, 0x11, 0x13,
                                       0x0D, 0x0A, 0x7F, 0xFF, 0xAF, 0x5F};
    ASSERT_EQ(pty.Send(awkward), awkward.size());
    EXPECT_EQ(ReadLink(awkward.size()), awkward);

    std::vector<uint8_t> out = awkward;
    DWORD written = 0;
    ASSERT_EQ(link.Write(handle, out.data(), static_cast<DWORD>(out.size()), &written), FT_OK);
    EXPECT_EQ(written, out.size());
    EXPECT_EQ(pty.Receive(out.size()), awkward);  // no echo, no CR/LF translation
    EXPECT_TRUE(pty.Receive(1, 150).empty());
}

TEST_F(SerialOnPty, RandomStreamsArriveWholeAndInOrder) {
    OpenLink(20, 1000);
    std::mt19937 random(5);
    std::vector<uint8_t> toLink(64 * 1024), toAdapter(64 * 1024);
    for (auto &b : toLink) b = static_cast<uint8_t>(random());
    for (auto &b : toAdapter) b = static_cast<uint8_t>(random());

    // Each of the four ends on a thread of its own, so no direction waits on the other's buffer.
    std::vector<uint8_t> heard;
    std::thread adapterSends([&] { pty.Send(toLink, 5000); });
    std::thread adapterHears([&] { heard = pty.Receive(toAdapter.size(), 5000); });
    std::thread linkSends([&] {
        std::size_t sent = 0;
        const auto start = Clock::now();
        while (sent < toAdapter.size() && Since(start) < milliseconds(5000)) {
            DWORD n = 0;
            EXPECT_EQ(
                link.Write(handle, toAdapter.data() + sent, static_cast<DWORD>(toAdapter.size() - sent), &n),
                FT_OK);
            sent += n;
        }
    });
    const std::vector<uint8_t> got = ReadLink(toLink.size());
    adapterSends.join();
    adapterHears.join();
    linkSends.join();
    EXPECT_EQ(got, toLink);
    EXPECT_EQ(heard, toAdapter);
}

// The link takes bytes off the tty while nobody reads: the adapter can send far more than the tty's own
// queue holds (about 12 KiB here; ftdi_sio throttles the USB and the chip's FIFO overflows once its queue
// fills). With the receive buffer full the tty pushes back, and nothing is lost or reordered.
TEST_F(SerialOnPty, ArrivingBytesAreTakenInWhileNobodyReads) {
    OpenLink(100, 100);
    std::mt19937 random(11);
    std::vector<uint8_t> stream(SerialLink::RxBufferSize + 8000);
    for (auto &b : stream) b = static_cast<uint8_t>(random());
    // Everything fits into the receive buffer plus the tty's queue: all of it goes without one read.
    ASSERT_EQ(pty.Send(stream, 10000), stream.size());
    // The buffer fills; what is left waits in the tty (which counts only part of what it holds).
    DWORD waiting = 0;
    const auto start = Clock::now();
    while ((waiting = RxWaiting()) < SerialLink::RxBufferSize && Since(start) < Generous)
        std::this_thread::yield();
    EXPECT_GE(waiting, SerialLink::RxBufferSize);
    EXPECT_LE(waiting, stream.size());
    const std::vector<uint8_t> got = ReadLink(stream.size());
    EXPECT_TRUE(got == stream) << got.size() << " of " << stream.size() << " bytes, or not in order";
    EXPECT_EQ(RxWaiting(), 0u);
}

TEST_F(SerialOnPty, ReadWaitsForItsTimeOutOrItsCount) {
    OpenLink(150, 100);
    uint8_t buffer[64];
    DWORD n = 99;
    auto start = Clock::now();
    ASSERT_EQ(link.Read(handle, buffer, sizeof buffer, &n), FT_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(Since(start), milliseconds(140));
    EXPECT_LT(Since(start), Generous);

    // Fewer than asked: what came, after the time-out.
    ASSERT_EQ(pty.Send({1, 2, 3}), 3u);
    start = Clock::now();
    ASSERT_EQ(link.Read(handle, buffer, sizeof buffer, &n), FT_OK);
    EXPECT_EQ(n, 3u);
    EXPECT_LT(Since(start), Generous);

    // Exactly the count asked for: back before a long time-out passes.
    ASSERT_EQ(link.SetTimeouts(handle, 30000, 100), FT_OK);
    ASSERT_EQ(pty.Send({4, 5, 6, 7}), 4u);
    start = Clock::now();
    ASSERT_EQ(link.Read(handle, buffer, 4, &n), FT_OK);
    EXPECT_EQ(n, 4u);
    EXPECT_LT(Since(start), Generous);
}

TEST_F(SerialOnPty, WriteToAStuckAdapterReturnsAShortCountInTime) {
    OpenLink(100, 150);
    std::vector<uint8_t> big(1 << 20, 0x55);  // far more than a terminal buffers; nobody reads it
    DWORD written = 0;
    const auto start = Clock::now();
    EXPECT_EQ(link.Write(handle, big.data(), static_cast<DWORD>(big.size()), &written), FT_OK);
    EXPECT_LT(written, big.size());
    EXPECT_GE(Since(start), milliseconds(140));
    EXPECT_LT(Since(start), Generous);
}

TEST_F(SerialOnPty, RxCountAndResetFlush) {
    OpenLink();
    EXPECT_EQ(RxWaiting(), 0u);
    ASSERT_EQ(pty.Send({9, 8, 7, 6, 5, 4, 3}), 7u);
    const auto start = Clock::now();
    while (RxWaiting() < 7 && Since(start) < Generous) std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(RxWaiting(), 7u);
    DWORD queued = 0;
    ASSERT_EQ(link.GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 7u);

    ASSERT_EQ(link.ResetDevice(handle), FT_OK);
    EXPECT_EQ(RxWaiting(), 0u);
    uint8_t buffer[16];
    DWORD n = 0;
    ASSERT_EQ(link.Read(handle, buffer, sizeof buffer, &n), FT_OK);
    EXPECT_EQ(n, 0u);
}

// While the reader moves bytes from the tty into the link's buffer, a count never sees a byte twice (in
// the tty and in the buffer at once): it never exceeds what has been sent.
TEST_F(SerialOnPty, CountsWhileBytesArriveNeverExceedWhatWasSent) {
    OpenLink();
    const std::vector<uint8_t> piece(64, 0x5A);
    std::size_t sent = 0, over = 0;
    for (int round = 0; round < 400; ++round) {
        sent += pty.Send(piece);
        for (int look = 0; look < 20; ++look) {
            DWORD queued = 0;
            over += RxWaiting() > sent;
            ASSERT_EQ(link.GetQueueStatus(handle, &queued), FT_OK);
            over += queued > sent;
        }
    }
    EXPECT_EQ(over, 0u) << "counts over " << sent << " bytes sent";
    EXPECT_EQ(ReadLink(sent).size(), sent);
}

TEST_F(SerialOnPty, HandlesFollowTheD2xxRules) {
    FT_HANDLE none = nullptr;
    uint8_t byte = 0;
    DWORD n = 0;
    EXPECT_EQ(link.Close(none), FT_INVALID_HANDLE);
    EXPECT_EQ(link.Read(none, &byte, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(link.SetEventNotification(none, FT_EVENT_RXCHAR, nullptr), FT_INVALID_HANDLE);
    EXPECT_EQ(link.Open(1, &handle), FT_DEVICE_NOT_FOUND);

    OpenLink();
    RxEventObject event;
    EXPECT_EQ(link.SetEventNotification(handle, FT_EVENT_RXCHAR, &event), FT_OK);
    FT_HANDLE second = nullptr;
    EXPECT_EQ(link.Open(0, &second), FT_DEVICE_NOT_OPENED);  // busy, as a device another program holds

    const FT_HANDLE old = handle;
    ASSERT_EQ(link.Close(old), FT_OK);
    handle = nullptr;
    EXPECT_EQ(link.Close(old), FT_INVALID_HANDLE);
    OpenLink();
    EXPECT_NE(handle, old);
    // The old value must never reach the new descriptor.
    EXPECT_EQ(link.Write(old, &byte, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(link.GetQueueStatus(old, &n), FT_INVALID_HANDLE);
}

// Bytes arriving on the tty set the registered receive event, once per batch until they are read; a
// registration ends with its handle.
TEST_F(SerialOnPty, ArrivingBytesSetTheRegisteredEvent) {
    OpenLink();
    RxEventObject event;
    ASSERT_EQ(link.SetEventNotification(handle, FT_EVENT_RXCHAR, &event), FT_OK);
    EXPECT_FALSE(event.Wait(milliseconds(0)));  // nothing has arrived
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(pty.Send({0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F}), 7u);
        ASSERT_TRUE(event.Wait(Generous)) << "round " << round;
        uint8_t buffer[16];
        DWORD n = 0;
        ASSERT_EQ(link.Read(handle, buffer, 7, &n), FT_OK);
        EXPECT_EQ(n, 7u);
    }
    // Mask 0 ends the notification; the handle stays usable.
    ASSERT_EQ(link.SetEventNotification(handle, 0, &event), FT_OK);
    event.Wait(milliseconds(0));
    ASSERT_EQ(pty.Send({0x55}), 1u);
    EXPECT_FALSE(event.Wait(milliseconds(150)));
    // Closing with a registration in force ends its thread (a hang here fails the run).
    ASSERT_EQ(link.SetEventNotification(handle, FT_EVENT_RXCHAR, &event), FT_OK);
    ASSERT_EQ(link.Close(handle), FT_OK);
    handle = nullptr;
}

TEST_F(SerialOnPty, ExclusiveWhileOpenAndGivenBackOnClose) {
    OpenLink();
    // A second descriptor of our own (root may open an exclusive tty) to look at the flag.
    const int look = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(look, 0);
    int exclusive = 0;
    ASSERT_EQ(::ioctl(look, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ASSERT_EQ(link.Close(handle), FT_OK);
    handle = nullptr;
    // A pseudo-terminal keeps the flag past the last close: left set, an ordinary user could not reopen.
    ASSERT_EQ(::ioctl(look, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(look);
}

TEST_F(SerialOnPty, HangUpIsLossAndNothingWorksOnTheLostHandle) {
    OpenLink();
    EXPECT_TRUE(Probe());
    // Half a frame on its way, then the adapter goes.
    ASSERT_EQ(pty.Send({0xFA, 0xF5, 0x0B, 0x13, 0x00}), 5u);
    pty.HangUp();
    EXPECT_FALSE(Probe());
    uint8_t buffer[64];
    DWORD n = 0;
    const FT_STATUS status = link.Read(handle, buffer, sizeof buffer, &n);
    EXPECT_LE(n, 5u);  // what had arrived may still be handed over, never more
    if (n == 0) {
        EXPECT_NE(status, FT_OK);
    }
    EXPECT_NE(link.Read(handle, buffer, sizeof buffer, &n), FT_OK);
    EXPECT_EQ(n, 0u);
    EXPECT_NE(link.Write(handle, buffer, 4, &n), FT_OK);
    EXPECT_FALSE(Probe());
    EXPECT_EQ(link.Close(handle), FT_OK);  // a lost handle is still released
    handle = nullptr;
    EXPECT_NE(link.Open(0, &handle), FT_OK);  // its node is gone with it
    handle = nullptr;
}

TEST_F(SerialOnPty, VanishedOrReplacedNodeIsLoss) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string name = dir.filePath("adapter").toStdString();
    ASSERT_EQ(::symlink(pty.Slave().c_str(), name.c_str()), 0);
    SerialSettings settings;
    settings.path = name;
    link.Configure(settings);
    DWORD count = 9;
    ASSERT_EQ(link.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 1u);

    OpenLink();
    EXPECT_TRUE(Probe());
    ASSERT_EQ(::unlink(name.c_str()), 0);  // the emulator's name removed: unplugged
    EXPECT_FALSE(Probe());
    ASSERT_EQ(link.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(link.Close(handle), FT_OK);
    handle = nullptr;
    EXPECT_EQ(link.Open(0, &handle), FT_DEVICE_NOT_FOUND);
    handle = nullptr;

    // Plugged in again, then replaced by another terminal under the same name while open.
    ASSERT_EQ(::symlink(pty.Slave().c_str(), name.c_str()), 0);
    OpenLink();
    EXPECT_TRUE(Probe());
    TestPty other;
    ASSERT_TRUE(other.Ok());
    ASSERT_EQ(::unlink(name.c_str()), 0);
    ASSERT_EQ(::symlink(other.Slave().c_str(), name.c_str()), 0);
    EXPECT_FALSE(Probe());
    EXPECT_EQ(link.Close(handle), FT_OK);
    handle = nullptr;
    OpenLink();  // and the new one is found
    EXPECT_TRUE(Probe());
}

TEST_F(SerialOnPty, CloseWhileAReadWaitsEndsTheReadAtOnce) {
    OpenLink(30000, 100);
    std::atomic<bool> done{false};
    FT_STATUS status = FT_OTHER_ERROR;
    DWORD n = 77;
    uint8_t buffer[256];
    const FT_HANDLE reading = handle;
    std::thread reader([&] {
        status = link.Read(reading, buffer, sizeof buffer, &n);
        done.store(true);
    });
    std::this_thread::sleep_for(
        milliseconds(100));  // let it settle into its wait; not needed for correctness
    const auto start = Clock::now();
    ASSERT_EQ(link.Close(handle), FT_OK);
    handle = nullptr;
    EXPECT_LT(Since(start), Generous);
    reader.join();
    EXPECT_TRUE(done.load());
    EXPECT_EQ(n, 0u);
    (void)status;  // FT_OK with nothing, or an invalid handle if it had not started yet: both are sound

    // Whatever descriptor the system hands out next is never touched through the old handle.
    int pipes[2];
    ASSERT_EQ(::pipe(pipes), 0);
    ASSERT_EQ(::write(pipes[1], "x", 1), 1);
    EXPECT_EQ(link.Read(reading, buffer, 1, &n), FT_INVALID_HANDLE);
    char left = 0;
    EXPECT_EQ(::read(pipes[0], &left, 1), 1);
    ::close(pipes[0]);
    ::close(pipes[1]);
}

TEST_F(SerialOnPty, CloseRacesReadsAndProbesFromAnotherThread) {
    // The receive thread reads and counts while the window thread probes, closes and reopens.
    std::atomic<bool> stop{false};
    std::atomic<FT_HANDLE> current{nullptr};
    std::thread receiver([&] {
        uint8_t buffer[512];
        while (!stop.load()) {
            DWORD n = 0, rx = 0, tx = 0, ev = 0;
            const FT_HANDLE h = current.load();
            link.GetStatus(h, &rx, &tx, &ev);
            link.Read(h, buffer, sizeof buffer, &n);
            EXPECT_LE(n, sizeof buffer);
        }
    });
    for (int round = 0; round < 50; ++round) {
        FT_HANDLE h = nullptr;
        ASSERT_EQ(link.Open(0, &h), FT_OK);
        link.SetTimeouts(h, 5, 5);
        current.store(h);
        pty.Send({0xFA, 0xF5, static_cast<uint8_t>(round)}, 50);
        DWORD q = 0;
        EXPECT_EQ(link.GetQueueStatus(h, &q), FT_OK);
        std::this_thread::sleep_for(milliseconds(2));
        ASSERT_EQ(link.Close(h), FT_OK);
    }
    stop.store(true);
    receiver.join();
}

}  // namespace
