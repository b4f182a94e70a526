// The adapter's bridge to a CAN bus: the loopback bus inside the process, and Qt's virtualcan bus with a
// second Qt client standing for another node.
#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QTest>

#include "FirmwareHost.h"
#include "QtCanBusPort.h"
#include "VirtualBusName.h"

namespace {

TEST_F(FirmwareHost, DetachedBusIsNeitherUsedNorHeard) {
    LoopbackCanBus bus;
    std::string why;
    ASSERT_TRUE(bus.Open(why));
    firmware->AttachBus(&bus);
    bus.Inject(MakeFrame(0x100, false, {1}));
    SetUpSlot(0, 0, FlagAlways, MakeFrame(0x200, false, {2}));
    ASSERT_TRUE(bus.WaitForTransmitted(1, Generous));
    ASSERT_TRUE(WaitUntil([&] { return Frames().size() == 1; }));

    firmware->AttachBus(nullptr);
    bus.Inject(MakeFrame(0x101, false, {1}));
    SetUpSlot(0, 0, FlagAlways, MakeFrame(0x201, false, {2}));
    Settle(60);
    EXPECT_EQ(bus.TransmittedCount(), 1u);
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_EQ(firmware->SlotFramesSent(), 2u);  // the slot still sent, into no bus
}

TEST(QtCanBusPort, UnknownPluginIsNamedWithTheInstalledOnes) {
    QtCanBusPort port({"nosuchbus", "can0"});
    std::string why;
    EXPECT_FALSE(port.Open(why));
    EXPECT_EQ(why.rfind("bus: no CAN plugin \"nosuchbus\" (installed: ", 0), 0u) << why;
    EXPECT_NE(why.find("virtualcan"), std::string::npos) << why;
    EXPECT_FALSE(port.Transmit(BusFrame{}));
    QtCanBusPort can7({"virtualcan", "can7"});  // Qt's plugin would put it on can0 without a word
    EXPECT_FALSE(can7.Open(why));
    EXPECT_EQ(why, "bus: virtualcan:can7: Qt's virtual bus has only the channels can0 and can1");
}

TEST(QtCanBusPort, FramesConvertBothWays) {
    const BusFrame frames[] = {
        MakeFrame(0x123, false, {0x11, 0x22}),
        MakeFrame(0x1ABCDEF0, true, {1, 2, 3, 4, 5, 6, 7, 8}),
        MakeFrame(0x7FF, false, {0, 0, 0}, true),  // remote: a length, no data
        MakeFrame(0x5, true, {}),
    };
    for (const BusFrame &f : frames) {
        const QCanBusFrame q = ToQtFrame(f);
        EXPECT_EQ(q.frameId(), f.identifier);
        EXPECT_EQ(q.hasExtendedFrameFormat(), f.extended);
        EXPECT_EQ(q.frameType() == QCanBusFrame::RemoteRequestFrame, f.remote);
        EXPECT_EQ(q.payload().size(), f.length);
        BusFrame back;
        ASSERT_TRUE(ToBusFrame(q, back));
        EXPECT_EQ(back, f);
    }
}

TEST(QtCanBusPort, SocketCanErrorFramesBecomeReportFlags) {
    struct Row {
        QCanBusFrame::FrameErrors errors;
        QByteArray data;
        uint8_t flags;
    };
    const Row rows[] = {
        {QCanBusFrame::MissingAcknowledgmentError, QByteArray(8, 0), 0x01},
        {QCanBusFrame::ProtocolViolationError, QByteArray::fromHex("0000020000000000"), 0x02},
        {QCanBusFrame::ProtocolViolationError, QByteArray::fromHex("0000040000000000"), 0x08},
        {QCanBusFrame::ProtocolViolationError, QByteArray::fromHex("0000000800000000"), 0x04},
        {QCanBusFrame::ProtocolViolationError, QByteArray::fromHex("0000061800000000"), 0x0E},
        {QCanBusFrame::ProtocolViolationError, QByteArray::fromHex("0000"), 0x00},  // too short to tell
        {QCanBusFrame::BusOffError, QByteArray(8, 0), 0x00},
    };
    for (const Row &row : rows) {
        QCanBusFrame frame(QCanBusFrame::ErrorFrame);
        frame.setError(row.errors);
        frame.setPayload(row.data);
        EXPECT_EQ(ErrorFlagsOf(frame), row.flags) << row.data.toHex().toStdString();
        BusFrame busFrame;
        EXPECT_FALSE(ToBusFrame(frame, busFrame));
    }
}

// Another node on Qt's virtual bus, in this process, on a bus of this process's own.
class VirtualBus : public FirmwareHost {
protected:
    void SetUp() override {
        FirmwareHost::SetUp();
        iface = PrivateVirtualBus();
        QString error;
        // First, on this lasting thread: if this process has to serve the bus, the server lives here.
        node.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), iface, &error));
        ASSERT_TRUE(node) << error.toStdString();
        ASSERT_TRUE(node->connectDevice()) << node->errorString().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return node->state() == QCanBusDevice::ConnectedState; }, 5000));
        port = std::make_unique<QtCanBusPort>(BusChoice{"virtualcan", iface.toStdString()});
        std::string why;
        ASSERT_TRUE(port->Open(why)) << why;
        firmware->AttachBus(port.get());
    }
    void TearDown() override {
        if (firmware) firmware->AttachBus(nullptr);
        if (port) port->Close();
        if (node) node->disconnectDevice();
        node.reset();
        FirmwareHost::TearDown();
    }
    // Runs this thread's events (the other node, maybe the bus server) while reading the link.
    bool Wait(const std::function<bool()> &done) {
        return QTest::qWaitFor(
            [&] {
                Pump();
                return done();
            },
            5000);
    }

    QString iface;
    std::unique_ptr<QCanBusDevice> node;
    std::unique_ptr<QtCanBusPort> port;
};

TEST_F(VirtualBus, SlotFrameReachesTheOtherNodeAndItsFrameComesBackAsAReport) {
    const BusFrame sent = MakeFrame(0x1ABCDEF0, true, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
    SetUpSlot(0, 0, FlagAlways, sent);
    ASSERT_TRUE(Wait([&] { return node->framesAvailable() > 0; }));
    const QCanBusFrame got = node->readFrame();
    EXPECT_EQ(got.frameType(), QCanBusFrame::DataFrame);
    EXPECT_EQ(got.frameId(), 0x1ABCDEF0u);
    EXPECT_TRUE(got.hasExtendedFrameFormat());
    EXPECT_EQ(got.payload(), QByteArray::fromHex("1122334455667788"));

    SetUpSlot(1, 0, FlagAlways, MakeFrame(0x7FF, false, {0, 0}, true));
    ASSERT_TRUE(Wait([&] { return node->framesAvailable() > 0; }));
    const QCanBusFrame remote = node->readFrame();
    EXPECT_EQ(remote.frameType(), QCanBusFrame::RemoteRequestFrame);
    EXPECT_EQ(remote.frameId(), 0x7FFu);
    EXPECT_EQ(remote.payload().size(), 2);

    SetTime(8, 0, 0, 0);
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x2B6, QByteArray::fromHex("FF7B4A"))));
    ASSERT_TRUE(Wait([&] { return !Frames().empty(); }));
    const Bytes report = Frames()[0];
    EXPECT_EQ(IdOf(report), 0x2B6u);
    EXPECT_EQ(report[14], 0x03);  // 11-bit, three bytes
    EXPECT_EQ(Bytes(report.begin() + 15, report.begin() + 18), (Bytes{0xFF, 0x7B, 0x4A}));
    EXPECT_EQ(report[5], 8);  // the adapter's clock
    EXPECT_EQ(port->FramesWritten(), 2u);
    EXPECT_EQ(port->FramesDropped(), 0u);

    // Through the filter: a frame that does not pass never comes back.
    Filter(0x100, 0x7FF, true);
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x2B6, QByteArray::fromHex("01"))));
    ASSERT_TRUE(node->writeFrame(QCanBusFrame(0x100, QByteArray::fromHex("02"))));
    ASSERT_TRUE(Wait([&] { return Frames().size() == 2; }));
    EXPECT_EQ(IdOf(Frames()[1]), 0x100u);
}

}  // namespace
