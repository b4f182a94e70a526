#include <arpa/inet.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <condition_variable>
#include <mutex>

#include "CandumpLine.h"
#include "MirrorFixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- Adapter to bus ----

TEST_F(MirrorTest, EveryReportedFrameReachesTheBusOnceInItsForm) {
    StartMirror();
    const BusFrame frames[] = {
        MakeFrame(0x123, false, {0x11, 0x22}),
        MakeFrame(0x1ABCDEF0, true, {1, 2, 3, 4, 5, 6, 7, 8}),
        MakeFrame(0x7FF, false, {0, 0}, true),  // remote, length 2
        MakeFrame(0x1FFFFFFF, true, {}, true),  // remote, length 0
        MakeFrame(0x000, false, {}),            // no data
        MakeFrame(0x2B6, false, {0xFF, 0x7B, 0x4A, 0xE8, 0xAD, 0x01, 0x02, 0x03}),
        MakeFrame(0x5, true, {0xAA}),  // a small identifier in the 29-bit form stays 29-bit
    };
    for (const BusFrame &f : frames) adapterBus.Inject(f);
    // The marker last: the path keeps its order, so a frame sent twice would show before it.
    const BusFrame marker = MakeFrame(0x3FF, false, {0x99});
    adapterBus.Inject(marker);
    const std::size_t expected = std::size(frames) + 1;
    ASSERT_TRUE(Wait([&] { return heard.size() >= expected; })) << heard.size();
    ASSERT_EQ(heard.size(), expected);
    for (std::size_t i = 0; i < std::size(frames); ++i) {
        const BusFrame &f = frames[i];
        const QCanBusFrame &q = heard[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(q.frameId(), f.identifier);
        EXPECT_EQ(q.hasExtendedFrameFormat(), f.extended);
        EXPECT_EQ(q.frameType(), f.remote ? QCanBusFrame::RemoteRequestFrame : QCanBusFrame::DataFrame);
        EXPECT_EQ(q.payload().size(), f.length);
        if (!f.remote) {
            EXPECT_EQ(q.payload(), QByteArray(reinterpret_cast<const char *>(f.data.data()), f.length));
        }
    }
    EXPECT_EQ(heard.back().frameId(), marker.identifier);
    EXPECT_EQ(mirror->Counts().toBus, HandshakeFrames + expected);
    EXPECT_EQ(mirror->Counts().toBusOverflow, 0u);
    EXPECT_TRUE(notices.empty());
}

// The pump's side with what the decoder may hand over: a length code above 8 is cut to 8, and an
// identifier with bits beyond its form is cut to the form.
TEST_F(MirrorTest, LengthCodeAndIdentifierAreKeptToTheirForm) {
    StartMirror();
    struct Row {
        uint32_t id;
        uint8_t info;
        uint32_t busId;
        int length;
    };
    const Row rows[] = {{0x123, 0x0F, 0x123, 8}, {0xFFFFF800, 0x00, 0x000, 0}, {0xFFFFFFFF, 0x19, 0x1FFFFFFF, 8}};
    for (const Row &r : rows) {
        const BusEvent e = FrameEvent(r.id, r.info, false, {1, 2, 3, 4, 5, 6, 7, 8});
        mirror->Take({&e, 1});
    }
    ASSERT_TRUE(Wait([&] { return heard.size() >= std::size(rows); }));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(heard[i].frameId(), rows[i].busId) << i;
        EXPECT_EQ(heard[i].payload().size(), rows[i].length) << i;
    }
}

// Qt's virtual bus would turn an error frame into a data frame with identifier 0: bus error reports are
// counted, not put there.
TEST_F(MirrorTest, BusErrorsAreNotFakedAsDataFramesOnAPluginWithoutErrorFrames) {
    StartMirror();
    adapterBus.InjectError(buserror::AckBit);
    adapterBus.InjectError(buserror::StuffBit | buserror::CrcBit);
    adapterBus.Inject(MakeFrame(0x3FF, false, {0x99}));
    ASSERT_TRUE(Wait([&] { return !heard.empty(); }));
    ASSERT_TRUE(Wait([&] { return mirror->Counts().errorsNotCarried == 2; }));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].frameId(), 0x3FFu);
    EXPECT_FALSE(QtCanBusPort::CarriesErrorFrames("virtualcan"));
    EXPECT_TRUE(QtCanBusPort::CarriesErrorFrames("socketcan"));
}

// What socketcan puts on the wire for each report: the same error frame the trace log writes (so candump
// on the bus and the log agree), and read back by the bridge into the same flags.
TEST(MirrorErrorFrames, MatchTheTraceLogAndReadBackToTheSameFlags) {
    for (int flags = 1; flags <= 0x0F; ++flags) {
        const QCanBusFrame frame = ErrorFrameFor(static_cast<uint8_t>(flags));
        const ErrorFrame e = ErrorFrameOf(static_cast<uint8_t>(flags));
        EXPECT_EQ(frame.frameType(), QCanBusFrame::ErrorFrame);
        EXPECT_EQ(static_cast<uint32_t>(frame.error()), e.canId & CAN_ERR_MASK) << flags;
        EXPECT_EQ(frame.payload(), QByteArray(reinterpret_cast<const char *>(e.data), sizeof e.data)) << flags;
        EXPECT_EQ(ErrorFlagsOf(frame), flags);
    }
}

// ---- Bus to adapter ----

TEST_F(MirrorTest, AnotherNodesFramesAreSentOnceOnTheMirrorSlotASpacingApart) {
    StartMirror();
    struct Row {
        QCanBusFrame frame;
        Bytes payload;  // OUT Initialization: slot, period, flags, ID1..ID4, info, 8 data bytes
        BusFrame onAdapterBus;
    };
    QCanBusFrame remote(0x7FF, QByteArray(1, 0));
    remote.setFrameType(QCanBusFrame::RemoteRequestFrame);
    QCanBusFrame extended(0x1ABCDEF0, QByteArray::fromHex("1122334455667788"));
    extended.setExtendedFrameFormat(true);
    const Row rows[] = {
        {QCanBusFrame(0x2B6, QByteArray::fromHex("FF7B4A")),
         {0x07, 0x00, 0x00, 0x01, 0x56, 0xC0, 0x00, 0x00, 0x03, 0xFF, 0x7B, 0x4A, 0, 0, 0, 0, 0},
         MakeFrame(0x2B6, false, {0xFF, 0x7B, 0x4A})},
        {extended,
         {0x07, 0x00, 0x00, 0x01, 0xD5, 0xE6, 0xF7, 0x80, 0x18, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88},
         MakeFrame(0x1ABCDEF0, true, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88})},
        {remote,
         {0x07, 0x00, 0x00, 0x01, 0xFF, 0xE0, 0x00, 0x04, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},
         MakeFrame(0x7FF, false, {0}, true)},
        {QCanBusFrame(0x100, QByteArray()),
         {0x07, 0x00, 0x00, 0x01, 0x20, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0},
         MakeFrame(0x100, false, {})},
    };
    for (const Row &r : rows) ASSERT_TRUE(node->writeFrame(r.frame));
    ASSERT_TRUE(Wait([&] { return adapterBus.TransmittedCount() >= std::size(rows); }));

    const std::vector<LoggedFrame> sent = OutInits();
    ASSERT_EQ(sent.size(), std::size(rows));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].payload, rows[i].payload);
        EXPECT_TRUE(sent[i].checksumOk);
        if (i > 0) {
            EXPECT_GE(sent[i].arrived - sent[i - 1].arrived, CommandSpacing);
        }
    }
    const std::vector<BusFrame> onBus = adapterBus.Transmitted();
    for (std::size_t i = 0; i < onBus.size(); ++i) EXPECT_EQ(onBus[i], rows[i].onAdapterBus) << i;
    EXPECT_EQ(mirror->Counts().sentToAdapter, std::size(rows));
    EXPECT_EQ(mirror->Counts().fromBus, std::size(rows));
}

TEST_F(MirrorTest, NothingIsSentWhileTheAdapterCannotTransmit) {
    StartMirror();
    canTransmit = false;  // absent or listening: the owner's answer
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x101, QByteArray::fromHex("01"))));
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x102, QByteArray::fromHex("02"))));
    ASSERT_TRUE(Wait([&] { return mirror->Counts().notSentNoAdapter == 2; }));
    EXPECT_TRUE(OutInits().empty());

    // Able again: only what comes now is sent, not what waited while it could not.
    canTransmit = true;
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x103, QByteArray::fromHex("03"))));
    ASSERT_TRUE(Wait([&] { return adapterBus.TransmittedCount() == 1; }));
    ASSERT_EQ(OutInits().size(), 1u);
    EXPECT_EQ(adapterBus.Transmitted()[0].identifier, 0x103u);
    EXPECT_EQ(mirror->Counts().sentToAdapter, 1u);
}

TEST_F(MirrorTest, AFullAdapterQueueIsCountedAndReported) {
    StartMirror();
    driveTransmit = false;  // the owner's timer has not come round yet
    constexpr std::size_t extra = 5;
    for (std::size_t i = 0; i < BusMirror::AdapterQueueCapacity + extra; ++i)
        ASSERT_TRUE(node->writeFrame(QCanBusFrame(static_cast<quint32>(0x200 + i), QByteArray(1, char(i)))));
    ASSERT_TRUE(Wait([&] {
        const BusMirrorCounts c = mirror->Counts();
        return c.fromBus + c.fromBusOverflow == BusMirror::AdapterQueueCapacity + extra;
    }));
    EXPECT_EQ(mirror->Counts().fromBus, BusMirror::AdapterQueueCapacity);
    EXPECT_EQ(mirror->Counts().fromBusOverflow, extra);

    mirror->TransmitNext();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "bus -> adapter: 5 frames dropped, the adapter takes one frame per 100 ms");
    // The oldest are kept: the first command is the first frame.
    ASSERT_TRUE(log->WaitForCount(1, std::chrono::milliseconds(GenerousMs)));
    ASSERT_EQ(OutInits().size(), 1u);
    EXPECT_EQ(OutInits()[0].payload[4], 0x40);  // 0x200: ID1 = id >> 3
    mirror->TransmitNext();                      // nothing new lost: no second notice
    EXPECT_EQ(notices.size(), 1u);
}

// What any local user can write to the virtual bus's server, which Qt then hands over as frames no
// classic CAN controller sends: dropped and counted, never transmitted.
TEST_F(MirrorTest, MalformedFramesFromTheBusAreDroppedAndCounted) {
    StartMirror();
    QTcpSocket raw;
    raw.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(QUrl(iface).port(35468)));
    ASSERT_TRUE(raw.waitForConnected(GenerousMs));
    // 0x12345 in the 11-bit form, beyond 29 bits, 9 bytes, CAN FD, remote of length 10; then 0x123 [1] 11.
    raw.write(
        "can0:74565##11\ncan0:4294967295#X#11\ncan0:291##112233445566778899\ncan0:291#F#11\n"
        "can0:291#R#00000000000000000000\ncan0:291##11\n");
    ASSERT_TRUE(Wait([&] { return adapterBus.TransmittedCount() == 1; }));
    EXPECT_EQ(adapterBus.Transmitted()[0], MakeFrame(0x123, false, {0x11}));
    EXPECT_EQ(mirror->Counts().fromBusMalformed, 5u);
}

// A server that takes the connection and never reads: once the kernel's share and the device's bound are
// full, every frame is dropped and counted, and nothing more is taken into the process.
TEST_F(MirrorTest, ABusThatNeverReadsCostsCountedDropsNotMemory) {
    QTcpServer server;  // the kernel takes the connection in; nobody ever accepts or reads it
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    server.pauseAccepting();
    const std::string url = "tcp://127.0.0.1:" + std::to_string(server.serverPort()) + "/can0";
    mirror = std::make_unique<BusMirror>(BusChoice{"virtualcan", url}, Hooks());
    ASSERT_TRUE(mirror->Start());
    uint64_t pushed = 0, written = 0;
    for (int round = 0; round < 12; ++round) {  // 4,096 at a time: the port's own ring never fills
        const std::vector<BusEvent> batch(4096, FrameEvent(0x123, 8));
        mirror->Take(batch);
        pushed += batch.size();
        ASSERT_TRUE(Wait([&] { return mirror->Counts().toBus + mirror->Counts().toBusOverflow == pushed; }));
        if (round == 9) written = mirror->Counts().toBus;
    }
    EXPECT_GT(mirror->Counts().toBusOverflow, 0u);
    EXPECT_EQ(mirror->Counts().toBus, written) << "frames taken in past the bound";
}

// The port's ring on its own: while the bus thread is held (here, inside a listener call), what does not
// fit is dropped and counted as overflow, and the writer never waits.
class HoldingListener final : public CanBusListener {
public:
    void OnBusFrame(const BusFrame &) override {
        entered.store(true);
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return released; });
    }
    void OnBusError(uint8_t) override {}
    void Release() {
        {
            std::lock_guard lock(mutex);
            released = true;
        }
        changed.notify_all();
    }
    std::atomic<bool> entered{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
};

TEST_F(MirrorTest, AFullBusQueueDropsAndCountsWithoutWaiting) {
    QtCanBusPort port({"virtualcan", iface.toStdString()}, 4);
    HoldingListener holder;
    port.SetListener(&holder);
    std::string why;
    ASSERT_TRUE(port.Open(why)) << why;
    // The bus server has the port once the node hears a frame from it (see StartMirror).
    ASSERT_TRUE(port.Transmit(MakeFrame(0x7AA, false, {})));
    ASSERT_TRUE(Wait([&] { return !heard.empty(); }));
    heard.clear();
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x1, QByteArray())));
    if (!QTest::qWaitFor([&] { return holder.entered.load(); }, GenerousMs)) {
        holder.Release();
        FAIL() << "the bus thread never delivered the frame";
    }
    int taken = 0;
    for (int i = 0; i < 7; ++i) taken += port.Transmit(MakeFrame(0x10 + i, false, {1}));
    EXPECT_EQ(taken, 4);
    EXPECT_EQ(port.FramesOverflowed(), 3u);
    holder.Release();
    ASSERT_TRUE(Wait([&] { return port.FramesWritten() == 5 && heard.size() == 4; }));
    EXPECT_EQ(heard.front().frameId(), 0x10u);
    EXPECT_EQ(heard.back().frameId(), 0x13u);
    port.Close();
    port.SetListener(nullptr);
}

// ---- No loops ----

TEST_F(MirrorTest, NoFrameReturnsToTheBusItCameFrom) {
    StartMirror();
    // From the virtual bus through the adapter onto its own bus, and no further: the adapter does not
    // report it back, so it is not mirrored onto the virtual bus again.
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x111, QByteArray::fromHex("11"))));
    ASSERT_TRUE(Wait([&] { return adapterBus.TransmittedCount() == 1; }));
    // From the adapter's bus onto the virtual bus, and not taken back by the mirror as another node's.
    adapterBus.Inject(MakeFrame(0x222, false, {0x22}));
    ASSERT_TRUE(Wait([&] { return !heard.empty(); }));
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x333, QByteArray::fromHex("33"))));
    ASSERT_TRUE(Wait([&] { return adapterBus.TransmittedCount() == 2; }));
    adapterBus.Inject(MakeFrame(0x444, false, {0x44}));
    ASSERT_TRUE(Wait([&] { return heard.size() == 2; }));

    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].frameId(), 0x222u);
    EXPECT_EQ(heard[1].frameId(), 0x444u);
    const std::vector<BusFrame> onAdapterBus = adapterBus.Transmitted();
    ASSERT_EQ(onAdapterBus.size(), 2u);
    EXPECT_EQ(onAdapterBus[0].identifier, 0x111u);
    EXPECT_EQ(onAdapterBus[1].identifier, 0x333u);
    EXPECT_EQ(mirror->Counts().fromBus, 2u);
    EXPECT_EQ(mirror->Counts().toBus, HandshakeFrames + 2);
    EXPECT_EQ(OutInits().size(), 2u);
}

// ---- A bus that fails or goes away ----

// Counts the frames the pump hands over, beside the mirror: the adapter side keeps working.
class CountingConsumer final : public BusConsumer {
public:
    void Take(std::span<const BusEvent> events) override {
        for (const BusEvent &e : events) frames.fetch_add(e.kind == BusEvent::Kind::Frame);
    }
    std::atomic<int> frames{0};
};

TEST_F(MirrorTest, AMissingPluginIsReportedOnceAndTheAdapterKeepsWorking) {
    CountingConsumer display;
    ASSERT_TRUE(AddPumpConsumer(&display));
    mirror = std::make_unique<BusMirror>(BusChoice{"nosuchbus", "can0"}, Hooks());
    EXPECT_FALSE(mirror->Start());
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].rfind("bus: no CAN plugin \"nosuchbus\"", 0), 0u) << notices[0];
    ASSERT_TRUE(mirror->Attach());  // attached all the same: it must not get in the way

    adapterBus.Inject(MakeFrame(0x123, false, {1}));
    adapterBus.Inject(MakeFrame(0x124, false, {2}));
    ASSERT_TRUE(Wait([&] { return display.frames.load() == 2 && mirror->Counts().toBusLost == 2; }));
    EXPECT_EQ(mirror->Counts().toBus, 0u);
    EXPECT_EQ(notices.size(), 1u);
    mirror->Detach();
    RemovePumpConsumer(&display);
}

// A virtual bus served by another process, which then ends: the mirror's device loses its connection.
TEST_F(MirrorTest, ABusThatGoesAwayIsReportedOnceAndTheAdapterKeepsWorking) {
    int port = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size), 0);
        port = ntohs(address.sin_port);
        ::close(fd);
    }
    const QString url = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(port);
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("/usr/lib/qt6/bin/canbusutil"), {"-l", "virtualcan", url});
    ASSERT_TRUE(server.waitForStarted(GenerousMs)) << "canbusutil (libqt6serialbus6-bin) did not start";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
            return probe.waitForConnected(100);
        },
        GenerousMs));

    CountingConsumer display;
    ASSERT_TRUE(AddPumpConsumer(&display));
    mirror = std::make_unique<BusMirror>(BusChoice{"virtualcan", url.toStdString()}, Hooks());
    ASSERT_TRUE(mirror->Start()) << (notices.empty() ? "" : notices.back());
    ExpectSharedBusWarning();
    ASSERT_TRUE(mirror->Attach());
    adapterBus.Inject(MakeFrame(0x123, false, {1}));
    ASSERT_TRUE(Wait([&] { return mirror->Counts().toBus == 1; }));
    EXPECT_TRUE(notices.empty());

    server.kill();
    ASSERT_TRUE(server.waitForFinished(GenerousMs));
    ASSERT_TRUE(Wait([&] { return !notices.empty(); }));
    EXPECT_EQ(notices[0].rfind("bus: virtualcan:" + url.toStdString() + ": ", 0), 0u) << notices[0];

    adapterBus.Inject(MakeFrame(0x124, false, {2}));
    adapterBus.Inject(MakeFrame(0x125, false, {3}));
    ASSERT_TRUE(Wait([&] { return display.frames.load() == 3 && mirror->Counts().toBusLost == 2; }));
    EXPECT_EQ(mirror->Counts().toBus, 1u);
    EXPECT_EQ(notices.size(), 1u);
    mirror->Detach();
    RemovePumpConsumer(&display);
}

}  // namespace
