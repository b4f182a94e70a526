#include "QtCanBusPort.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QMetaObject>
#include <algorithm>

#include "Frame.h"

namespace {

// Linux SocketCAN error frame detail (linux/can/error.h), as Qt passes it through.
constexpr uint8_t ProtForm = 0x02;
constexpr uint8_t ProtStuff = 0x04;
constexpr uint8_t ProtLocCrcSequence = 0x08;
constexpr uint8_t ProtLocCrcDelimiter = 0x18;

}  // namespace

bool ToBusFrame(const QCanBusFrame &frame, BusFrame &busFrame) {
    const auto type = frame.frameType();
    if (type != QCanBusFrame::DataFrame && type != QCanBusFrame::RemoteRequestFrame) return false;
    busFrame = BusFrame{};
    busFrame.identifier = frame.frameId();
    busFrame.extended = frame.hasExtendedFrameFormat();
    busFrame.remote = type == QCanBusFrame::RemoteRequestFrame;
    const QByteArray payload = frame.payload();
    const auto length = std::min<qsizetype>(payload.size(), static_cast<qsizetype>(busFrame.data.size()));
    busFrame.length = static_cast<uint8_t>(length);
    if (!busFrame.remote) std::copy(payload.begin(), payload.begin() + length, busFrame.data.begin());
    return true;
}

QCanBusFrame ToQtFrame(const BusFrame &busFrame) {
    const int length = std::min<int>(busFrame.length, static_cast<int>(busFrame.data.size()));
    QCanBusFrame frame;
    frame.setFrameId(busFrame.identifier);
    frame.setExtendedFrameFormat(busFrame.extended);
    if (busFrame.remote) {
        // A remote frame carries only its length code, which Qt takes from the payload's size.
        frame.setFrameType(QCanBusFrame::RemoteRequestFrame);
        frame.setPayload(QByteArray(length, 0));
    } else {
        frame.setPayload(QByteArray(reinterpret_cast<const char *>(busFrame.data.data()), length));
    }
    return frame;
}

uint8_t ErrorFlagsOf(const QCanBusFrame &frame) {
    if (frame.frameType() != QCanBusFrame::ErrorFrame) return 0;
    const QCanBusFrame::FrameErrors errors = frame.error();
    const QByteArray d = frame.payload();
    uint8_t flags = 0;
    if (errors & QCanBusFrame::MissingAcknowledgmentError) flags |= buserror::AckBit;
    if ((errors & QCanBusFrame::ProtocolViolationError) && d.size() >= 4) {
        const auto kind = static_cast<uint8_t>(d[2]), where = static_cast<uint8_t>(d[3]);
        if (kind & ProtForm) flags |= buserror::FormBit;
        if (kind & ProtStuff) flags |= buserror::StuffBit;
        if (where == ProtLocCrcSequence || where == ProtLocCrcDelimiter) flags |= buserror::CrcBit;
    }
    return flags;
}

QtCanBusPort::QtCanBusPort(BusChoice choice) : choice_(std::move(choice)) {
    thread_.setObjectName(QStringLiteral("can bus"));
}

QtCanBusPort::~QtCanBusPort() { Close(); }

bool QtCanBusPort::Open(std::string &why) {
    Close();
    {
        std::lock_guard lock(stateMutex_);
        state_ = QCanBusDevice::ConnectingState;
    }
    thread_.start();
    context_ = new QObject;
    context_->moveToThread(&thread_);
    std::string failure;
    QMetaObject::invokeMethod(
        context_,
        [&] {
            std::lock_guard handoff(handoffMutex_);
            OpenOnBusThread(failure);
        },
        Qt::BlockingQueuedConnection);
    bool created;
    {
        std::lock_guard handoff(handoffMutex_);
        created = device_ != nullptr;
        why = failure;
    }
    if (!created) {
        Close();
        return false;
    }
    // Connecting may finish later on the bus thread (virtualcan connects over a local socket).
    QCanBusDevice::CanBusDeviceState state;
    {
        std::unique_lock lock(stateMutex_);
        stateChanged_.wait_for(lock, ConnectTimeout,
                               [&] { return state_ != QCanBusDevice::ConnectingState; });
        state = state_;
    }
    if (state != QCanBusDevice::ConnectedState) {
        QString error;
        QMetaObject::invokeMethod(
            context_,
            [&] {
                std::lock_guard handoff(handoffMutex_);
                error = device_->errorString();
            },
            Qt::BlockingQueuedConnection);
        {
            std::lock_guard handoff(handoffMutex_);
            why = "bus: " + choice_.plugin + ":" + choice_.interface + " did not connect" +
                  (error.isEmpty() ? std::string() : ": " + error.toStdString());
        }
        Close();
        return false;
    }
    std::lock_guard lock(queueMutex_);
    open_ = true;
    return true;
}

void QtCanBusPort::OpenOnBusThread(std::string &why) {
    const QString plugin = QString::fromStdString(choice_.plugin);
    const QStringList plugins = QCanBus::instance()->plugins();
    if (!plugins.contains(plugin)) {
        why = "bus: no CAN plugin \"" + choice_.plugin +
              "\" (installed: " + plugins.join(QStringLiteral(", ")).toStdString() + ")";
        return;
    }
    QString error;
    QCanBusDevice *device =
        QCanBus::instance()->createDevice(plugin, QString::fromStdString(choice_.interface), &error);
    if (!device) {
        why = "bus: cannot create " + choice_.plugin + ":" + choice_.interface + ": " + error.toStdString();
        return;
    }
    QObject::connect(device, &QCanBusDevice::framesReceived, context_, [this] { ReadAll(); });
    const auto noteState = [this](QCanBusDevice::CanBusDeviceState state) {
        {
            std::lock_guard lock(stateMutex_);
            state_ = state;
        }
        stateChanged_.notify_all();
    };
    QObject::connect(device, &QCanBusDevice::stateChanged, context_, noteState);
    if (!device->connectDevice()) {
        why = "bus: cannot connect " + choice_.plugin + ":" + choice_.interface + ": " +
              device->errorString().toStdString();
        delete device;
        return;
    }
    noteState(device->state());
    device_ = device;
}

void QtCanBusPort::Close() {
    {
        std::lock_guard lock(queueMutex_);
        open_ = false;
        count_ = 0;
        wakePending_ = false;
    }
    if (!thread_.isRunning()) return;
    QMetaObject::invokeMethod(
        context_,
        [this] {
            std::lock_guard handoff(handoffMutex_);
            if (device_) {
                device_->disconnectDevice();
                delete device_;
                device_ = nullptr;
            }
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete context_;
    context_ = nullptr;
}

bool QtCanBusPort::Transmit(const BusFrame &frame) {
    std::lock_guard lock(queueMutex_);
    if (!open_ || count_ == QueueCapacity) {
        dropped_.fetch_add(1);
        return false;
    }
    queue_[(head_ + count_) % QueueCapacity] = frame;
    ++count_;
    if (!wakePending_) {
        wakePending_ = true;
        QMetaObject::invokeMethod(
            context_, [this] { Drain(); }, Qt::QueuedConnection);
    }
    return true;
}

void QtCanBusPort::Drain() {
    for (;;) {
        BusFrame frame;
        {
            std::lock_guard lock(queueMutex_);
            if (count_ == 0) {
                wakePending_ = false;
                return;
            }
            frame = queue_[head_];
            head_ = (head_ + 1) % QueueCapacity;
            --count_;
        }
        if (device_ && device_->writeFrame(ToQtFrame(frame)))
            written_.fetch_add(1);
        else
            dropped_.fetch_add(1);
    }
}

void QtCanBusPort::ReadAll() {
    if (!device_) return;
    while (device_->framesAvailable() > 0) {
        const QCanBusFrame frame = device_->readFrame();
        if (frame.hasLocalEcho()) continue;  // our own frame coming back, not another node's
        BusFrame busFrame;
        if (ToBusFrame(frame, busFrame))
            DeliverFrame(busFrame);
        else if (const uint8_t flags = ErrorFlagsOf(frame))
            DeliverError(flags);
    }
}
