#include "QtCanBusPort.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QUrl>
#include <algorithm>

#include <linux/can.h>
#include <linux/can/error.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "ErrorFrame.h"
#include "Frame.h"

bool ToBusFrame(const QCanBusFrame &frame, BusFrame &busFrame) {
    const auto type = frame.frameType();
    if (type != QCanBusFrame::DataFrame && type != QCanBusFrame::RemoteRequestFrame) return false;
    // isValid: the identifier fits its form and a classic frame has at most 8 bytes.
    if (frame.hasFlexibleDataRateFormat() || !frame.isValid()) return false;
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

// Qt's frame errors are SocketCAN's error classes, bit for bit.
uint8_t ErrorFlagsOf(const QCanBusFrame &frame) {
    if (frame.frameType() != QCanBusFrame::ErrorFrame) return 0;
    const QByteArray payload = frame.payload();
    uint8_t data[8] = {};
    std::copy_n(payload.constData(), std::min<qsizetype>(payload.size(), 8), data);
    return FlagsOfErrorFrame(static_cast<uint32_t>(frame.error()), data);
}

QCanBusFrame ErrorFrameFor(uint8_t flags) {
    const ErrorFrame e = ErrorFrameOf(flags);
    QCanBusFrame frame(QCanBusFrame::ErrorFrame);
    frame.setError(QCanBusFrame::FrameErrors(static_cast<int>(e.canId & CAN_ERR_MASK)));
    frame.setPayload(QByteArray(reinterpret_cast<const char *>(e.data), sizeof e.data));
    return frame;
}

QtCanBusPort::QtCanBusPort(BusChoice choice, std::size_t queueCapacity)
    : choice_(std::move(choice)), queue_(std::max<std::size_t>(queueCapacity, 1)) {
    thread_.setObjectName(QStringLiteral("can bus"));
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

QtCanBusPort::~QtCanBusPort() {
    Close();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

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
    if (wakeFd_ < 0) {
        why = "bus: cannot create the bus thread's wake-up (eventfd)";
        return;
    }
    wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, context_);
    QObject::connect(wakeNotifier_, &QSocketNotifier::activated, context_, [this] {
        uint64_t count;
        while (::read(wakeFd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
        }
        Drain();
    });
    const QString plugin = QString::fromStdString(choice_.plugin);
    const QStringList plugins = QCanBus::instance()->plugins();
    if (!plugins.contains(plugin)) {
        why = "bus: no CAN plugin \"" + choice_.plugin +
              "\" (installed: " + plugins.join(QStringLiteral(", ")).toStdString() + ")";
        return;
    }
    const QString interface = QString::fromStdString(choice_.interface);
    if (choice_.plugin == "virtualcan") {
        // The plugin takes the channel from the name's last part (a bare name or a tcp:// URL).
        QStringList channels;
        for (const QCanBusDeviceInfo &info : QCanBus::instance()->availableDevices(plugin))
            channels << info.name();
        if (!channels.contains(QUrl(interface).fileName())) {
            why = "bus: virtualcan:" + choice_.interface + ": Qt's virtual bus has only the channels " +
                  channels.join(QStringLiteral(" and ")).toStdString();
            return;
        }
    }
    QString error;
    QCanBusDevice *device = QCanBus::instance()->createDevice(plugin, interface, &error);
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
    // A bus that had connected and then drops (interface down, server gone) or fails is reported once.
    QObject::connect(device, &QCanBusDevice::stateChanged, context_,
                     [this](QCanBusDevice::CanBusDeviceState state) {
                         if (state == QCanBusDevice::UnconnectedState && device_)
                             NoteLost(QStringLiteral("disconnected"));
                     });
    // The kernel's share of a connection's backlog, fixed rather than grown up to megabytes for a peer
    // that does not read.
    QObject::connect(
        device, &QCanBusDevice::stateChanged, context_, [this](QCanBusDevice::CanBusDeviceState state) {
            if (state == QCanBusDevice::ConnectedState && socket_)
                socket_->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(SocketSendBuffer));
        });
    // A refused write is a dropped frame (Drain counts it), not a lost bus.
    QObject::connect(device, &QCanBusDevice::errorOccurred, context_,
                     [this, device](QCanBusDevice::CanBusError error) {
                         if (device_ && !writingErrorFrame_ && error != QCanBusDevice::WriteError)
                             NoteLost(device->errorString());
                     });
    closing_ = false;
    lostReported_ = false;
    writingErrorFrame_ = false;
    if (!device->connectDevice()) {
        why = "bus: cannot connect " + choice_.plugin + ":" + choice_.interface + ": " +
              device->errorString().toStdString();
        delete device;
        return;
    }
    noteState(device->state());
    device_ = device;
    socket_ = device->findChild<QAbstractSocket *>();
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
            closing_ = true;
            if (device_) {
                device_->disconnectDevice();
                delete device_;
                device_ = nullptr;
                socket_ = nullptr;
            }
            delete wakeNotifier_;
            wakeNotifier_ = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete context_;
    context_ = nullptr;
}

bool QtCanBusPort::Transmit(const BusFrame &frame) { return Enqueue({frame, 0}); }

bool QtCanBusPort::TransmitError(uint8_t flags) {
    if (!CarriesErrorFrames(choice_.plugin)) {
        errorsNotCarried_.fetch_add(1);
        return false;
    }
    return Enqueue({BusFrame{}, flags});
}

bool QtCanBusPort::Enqueue(const Outgoing &item) {
    std::lock_guard lock(queueMutex_);
    if (!open_ || count_ == queue_.size()) {
        // In this order, so that a reader loading the overflow first never sees more of it than drops.
        dropped_.fetch_add(1);
        if (open_) overflowed_.fetch_add(1);
        return false;
    }
    queue_[(head_ + count_) % queue_.size()] = item;
    ++count_;
    if (!wakePending_) {
        wakePending_ = true;
        const uint64_t one = 1;
        // Cannot fail short of a counter near 2^64: the bus thread reads it back to 0 on every wake.
        [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
    return true;
}

void QtCanBusPort::Drain() {
    // A few frames per turn of the lock, so that a writer on another thread seldom finds it held.
    constexpr std::size_t Batch = 64;
    Outgoing batch[Batch];
    for (;;) {
        std::size_t n = 0;
        {
            std::lock_guard lock(queueMutex_);
            if (count_ == 0) {
                wakePending_ = false;
                return;
            }
            for (; n < Batch && count_ > 0; ++n) {
                batch[n] = queue_[head_];
                head_ = (head_ + 1) % queue_.size();
                --count_;
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            bool ok = false;
            if (device_ && device_->state() == QCanBusDevice::ConnectedState && Backlogged()) {
                dropped_.fetch_add(1);  // first, as in Enqueue
                overflowed_.fetch_add(1);
                continue;
            }
            if (device_ && device_->state() == QCanBusDevice::ConnectedState) {
                if (batch[i].errorFlags != 0) {
                    writingErrorFrame_ = true;
                    ok = device_->writeFrame(ErrorFrameFor(batch[i].errorFlags));
                    writingErrorFrame_ = false;
                } else {
                    ok = device_->writeFrame(ToQtFrame(batch[i].frame));
                }
            }
            if (ok)
                written_.fetch_add(1);
            else
                dropped_.fetch_add(1);
        }
    }
}

// Whether the device holds too much not yet written. A socket over the bound is first asked to hand the
// kernel what it will take now: a bus that reads gets its frames, one that never reads fills the
// kernel's buffer and then this bound, and no more.
bool QtCanBusPort::Backlogged() {
    if (device_->framesToWrite() > MaxFramesPending) return true;
    if (!socket_ || socket_->bytesToWrite() <= MaxBytesPending) return false;
    socket_->flush();
    return socket_->bytesToWrite() > MaxBytesPending;
}

void QtCanBusPort::NoteLost(const QString &reason) {
    if (closing_ || lostReported_) return;
    {
        // Before Open has returned true, a failure is Open's to tell.
        std::lock_guard lock(queueMutex_);
        if (!open_) return;
    }
    lostReported_ = true;
    DeliverLost("bus: " + choice_.plugin + ":" + choice_.interface + ": " +
                (reason.isEmpty() ? std::string("failed") : reason.toStdString()));
}

void QtCanBusPort::ReadAll() {
    if (!device_) return;
    while (device_->framesAvailable() > 0) {
        const QCanBusFrame frame = device_->readFrame();
        if (frame.hasLocalEcho()) continue;  // our own frame coming back, not another node's
        BusFrame busFrame;
        if (ToBusFrame(frame, busFrame))
            DeliverFrame(busFrame);
        else if (frame.frameType() != QCanBusFrame::ErrorFrame || !CarriesErrorFrames(choice_.plugin))
            malformed_.fetch_add(1);  // never handed on, so never transmitted
        else if (const uint8_t flags = ErrorFlagsOf(frame))
            DeliverError(flags);
    }
}
