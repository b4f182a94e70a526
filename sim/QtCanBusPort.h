// A CanBusPort on a Qt SerialBus device: QCanBus::instance()->createDevice(plugin, interface), e.g.
// virtualcan:can0 (Qt's bus between local processes) or socketcan:can0 (a Linux CAN interface).
//
// Thread contract: the device lives on a thread of the port's own, which runs an event loop (the device
// needs one; a QCoreApplication must exist). Transmit, from any thread, puts the frame in a locked ring
// of QueueCapacity frames and wakes that thread with one queued call per batch; received frames are
// handed to the listener on that thread. Open and Close block their caller until the bus thread has done
// the work, so they must not be called from the bus thread or from inside the listener; after Close the
// thread has ended and the listener is not called again.
//
// The virtualcan plugin runs its bus server on the thread of the first device in the process that
// connects, if no other process serves it already: a process that closes bridges and opens new ones
// should keep one device connected on a lasting thread.
//
// The bit rate the host chooses is not applied to the device: socketcan needs privileges for that, and
// it is the interface's configuration that decides.
#pragma once

#include <QCanBusDevice>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "CanBusPort.h"

class QCanBusFrame;

class QtCanBusPort final : public CanBusPort {
public:
    static constexpr std::size_t QueueCapacity = 1024;
    static constexpr std::chrono::milliseconds ConnectTimeout{5000};

    explicit QtCanBusPort(BusChoice choice);
    ~QtCanBusPort() override;

    bool Open(std::string &why) override;
    void Close() override;
    bool Transmit(const BusFrame &frame) override;

    uint64_t FramesWritten() const { return written_.load(); }
    uint64_t FramesDropped() const {
        return dropped_.load();
    }  // queue full, closed, or refused by the device

private:
    void OpenOnBusThread(std::string &why);  // bus thread
    void Drain();                            // bus thread
    void ReadAll();                          // bus thread

    BusChoice choice_;
    QThread thread_;
    QObject *context_ = nullptr;       // lives on thread_; queued calls run in its name
    QCanBusDevice *device_ = nullptr;  // lives on thread_; touched only there

    // Held by the bus thread's side of Open and Close and by their caller reading the outcome, so the
    // hand-over is visible to race checkers that cannot see into Qt's blocking queued call.
    std::mutex handoffMutex_;
    std::mutex stateMutex_;  // the device's state as the bus thread last saw it
    std::condition_variable stateChanged_;
    QCanBusDevice::CanBusDeviceState state_ = QCanBusDevice::UnconnectedState;

    std::mutex queueMutex_;
    bool open_ = false;
    bool wakePending_ = false;
    BusFrame queue_[QueueCapacity];
    std::size_t head_ = 0, count_ = 0;

    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> dropped_{0};
};

// A Qt frame to the adapter's view and back. An error frame has no BusFrame: ToBusFrame returns false.
bool ToBusFrame(const QCanBusFrame &frame, BusFrame &busFrame);
QCanBusFrame ToQtFrame(const BusFrame &busFrame);
// The bus error report bits of an error frame in Linux SocketCAN's layout (protocol violation detail in
// data bytes 2 and 3): no acknowledgement -> 01, form -> 02, CRC -> 04, stuff -> 08; 0 for anything else.
uint8_t ErrorFlagsOf(const QCanBusFrame &frame);
