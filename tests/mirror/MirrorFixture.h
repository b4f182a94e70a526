// The mirror between the emulated adapter and a private Qt virtual bus. The adapter sits on a CAN bus
// of its own (a loopback bus the test plays the other nodes of), the receive thread pumps what it
// reports, and another node on the virtual bus, on this thread, stands for candump and friends.
#pragma once

#include <gtest/gtest.h>

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QTest>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "BusMirror.h"
#include "CommandLog.h"
#include "LoopbackCanBus.h"
#include "D2XXUnit.h"
#include "EmulatedFirmware.h"
#include "Encoder.h"
#include "LinkBackend.h"
#include "LinkState.h"
#include "PresenceWatch.h"
#include "SimAdapter.h"
#include "TestFrames.h"
#include "SimBackend.h"
#include "UnitThread.h"
#include "VirtualBusName.h"

// Only bounds a hung test.
constexpr int GenerousMs = 5000;


class MirrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLinkState();
        InstallD2xxApi(SimD2xxApi());
        TheSimAdapter().ResetForTest();
        firmware = std::make_unique<EmulatedFirmware>(TheSimAdapter());
        log = std::make_unique<CommandLog>(firmware.get());
        TheSimAdapter().SetFirmware(log.get());
        std::string why;
        ASSERT_TRUE(adapterBus.Open(why));
        firmware->AttachBus(&adapterBus);
        TheSimAdapter().Plug();
        ASSERT_EQ(OpenFTDevice(), FT_OK);
        ASSERT_EQ(SetFTTimeouts(LinkTimeoutMs, 1000), FT_OK);
        ResetReceiveStream();
        DevicePresent.store(true);

        // First, on this lasting thread: if this process serves the virtual bus, the server lives here.
        iface = PrivateVirtualBus();
        QString error;
        node.reset(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), iface, &error));
        ASSERT_TRUE(node) << error.toStdString();
        ASSERT_TRUE(node->connectDevice()) << node->errorString().toStdString();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return node->state() == QCanBusDevice::ConnectedState; }, GenerousMs));

        receiveThread = std::make_unique<TEventThread>(
            false, [](void *) { return ReceivePass(); }, nullptr);
    }

    void TearDown() override {
        if (receiveThread) receiveThread->Stop();
        receiveThread.reset();
        mirror.reset();
        if (node) node->disconnectDevice();
        node.reset();
        CloseFTDevice();
        firmware->AttachBus(nullptr);
        TheSimAdapter().SetFirmware(nullptr);
        log.reset();
        firmware.reset();
        TheSimAdapter().ResetForTest();
        ResetLinkState();
    }

    BusMirrorHooks Hooks() {
        BusMirrorHooks hooks;
        // As the window's CreateMessage: the command frame built in the link's buffer and written whole.
        hooks.writeCommand = [](int code, const PayloadBuffer &payload, int length) {
            const std::size_t size = BuildFrame(static_cast<uint8_t>(code), payload, length, OutBuffer);
            return WriteFTDevice(static_cast<DWORD>(size)) == size;
        };
        hooks.canTransmit = [this] { return canTransmit.load(); };
        hooks.notice = [this](const std::string &line) { notices.push_back(line); };
        return hooks;
    }

    // A mirror on the private virtual bus, started and attached to the pump. Qt's bus server takes a
    // new device in a moment after the device counts as connected, and until then frames of other nodes
    // pass it by: one frame from the adapter, heard by the node, shows that the server has it. That frame
    // is counted in toBus (HandshakeFrames) and not kept in `heard`.
    static constexpr uint64_t HandshakeFrames = 1;
    void StartMirror() {
        mirror = std::make_unique<BusMirror>(BusChoice{"virtualcan", iface.toStdString()}, Hooks());
        ASSERT_TRUE(mirror->Start()) << (notices.empty() ? "" : notices.back());
        ExpectSharedBusWarning();
        ASSERT_TRUE(mirror->Attach());
        adapterBus.Inject(MakeFrame(0x7AA, false, {0x55}));
        ASSERT_TRUE(Wait([&] { return !heard.empty(); }));
        ASSERT_EQ(heard.size(), 1u);
        heard.clear();
    }

    // Every local user may join Qt's virtual bus: said once, at the start.
    void ExpectSharedBusWarning() {
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].rfind("bus: warning: every local user", 0), 0u) << notices[0];
        notices.clear();
    }

    // Runs this thread's events (the other node, maybe the bus server), reading what the node hears and
    // calling the owner's TransmitNext, until `done` holds.
    template <class Pred>
    bool Wait(Pred done, int ms = GenerousMs) {
        return QTest::qWaitFor(
            [&] {
                while (node->framesAvailable() > 0) heard.push_back(node->readFrame());
                if (mirror && driveTransmit) mirror->TransmitNext();
                return done();
            },
            ms);
    }

    std::vector<LoggedFrame> OutInits() const {
        std::vector<LoggedFrame> out;
        for (const LoggedFrame &f : log->Frames())
            if (f.type == frame::OutInitialization) out.push_back(f);
        return out;
    }

    std::unique_ptr<EmulatedFirmware> firmware;
    std::unique_ptr<CommandLog> log;
    LoopbackCanBus adapterBus;  // the CAN bus the adapter itself is on
    QString iface;
    std::unique_ptr<QCanBusDevice> node;
    std::vector<QCanBusFrame> heard;  // what the node has read, oldest first
    std::unique_ptr<TEventThread> receiveThread;
    std::unique_ptr<BusMirror> mirror;
    std::atomic<bool> canTransmit{true};
    bool driveTransmit = true;
    std::vector<std::string> notices;
};
