// A CanBusPort on a Qt SerialBus device: QCanBus::instance()->createDevice(plugin, interface), e.g.
// virtualcan:can0 (Qt's bus between local processes) or socketcan:can0 (a Linux CAN interface).
//
// Thread contract: the device lives on a thread of the port's own, which runs an event loop (the device
// needs one; a QCoreApplication must exist). Transmit and TransmitError, from any thread, put the frame
// in a locked ring (QueueCapacity frames unless the constructor is given another bound, allocated once)
// and wake that thread once per batch through an event descriptor; they never wait for the bus and never
// allocate. Received frames, and
// the loss of a bus that had opened (OnBusLost, once per Open), are handed to the listener on that
// thread. Open and Close block their caller until the bus thread has done
// the work, so they must not be called from the bus thread or from inside the listener; after Close the
// thread has ended and the listener is not called again.
//
// The virtualcan plugin runs its bus server on the thread of the first device in the process that
// connects, if no other process serves it already: a process that closes bridges and opens new ones
// should keep one device connected on a lasting thread. Its channels are can0 and can1 only (any other
// name would land on can0 without a word), so Open refuses other names.
//
// Bounded end to end: the ring holds at most its capacity, and a device that has more than
// MaxFramesPending frames (framesToWrite) or MaxBytesPending bytes (virtualcan's socket) not yet written
// gets no more: what comes meanwhile is dropped and counted as overflow, so a bus that never reads
// cannot grow the process. A frame the device hands over malformed (identifier beyond its form, more
// than 8 bytes, CAN FD, a frame type other than data or remote, an error frame where the plugin has
// none) reaches no listener and is counted in FramesMalformed.
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
#include <vector>

#include "CanBusPort.h"

class QAbstractSocket;
class QCanBusFrame;
class QSocketNotifier;

class QtCanBusPort final : public CanBusPort {
public:
    static constexpr std::size_t QueueCapacity = 1024;
    static constexpr std::chrono::milliseconds ConnectTimeout{5000};
    // What the device may hold not yet written before frames are dropped: a few pumps' worth, so that a
    // bus that reads at all never loses a frame to it.
    static constexpr qint64 MaxFramesPending = 1024;
    static constexpr qint64 MaxBytesPending = 256 * 1024;
    static constexpr qint64 SocketSendBuffer = 128 * 1024;  // the kernel doubles it

    explicit QtCanBusPort(BusChoice choice, std::size_t queueCapacity = QueueCapacity);
    ~QtCanBusPort() override;

    bool Open(std::string &why) override;
    void Close() override;
    bool Transmit(const BusFrame &frame) override;
    // Queues an error frame carrying a bus error report's flags (ErrorFrameFor). Only a plugin that
    // carries error frames as such gets them (CarriesErrorFrames); for any other the frame is counted in
    // ErrorFramesNotCarried and false is returned.
    bool TransmitError(uint8_t flags);

    // Error frames go only where the plugin passes them on as error frames: socketcan. Qt's virtualcan
    // takes them but hands them to the other nodes as data frames with identifier 0, which would put a
    // frame on the bus that nobody sent.
    static bool CarriesErrorFrames(const std::string &plugin) { return plugin == "socketcan"; }

    uint64_t FramesWritten() const { return written_.load(); }  // data and error frames
    uint64_t FramesDropped() const {
        return dropped_.load();
    }  // queue full, closed, or refused by the device
    // Of those, the ring was full or the device held too much not yet written.
    uint64_t FramesOverflowed() const { return overflowed_.load(); }
    uint64_t FramesMalformed() const { return malformed_.load(); }  // received, dropped as malformed
    uint64_t ErrorFramesNotCarried() const { return errorsNotCarried_.load(); }

private:
    // One queued frame: a data or remote frame, or an error frame when errorFlags is not 0.
    struct Outgoing {
        BusFrame frame;
        uint8_t errorFlags = 0;
    };

    bool Enqueue(const Outgoing &item);
    void OpenOnBusThread(std::string &why);  // bus thread
    void Drain();                            // bus thread
    void ReadAll();                          // bus thread
    void NoteLost(const QString &reason);    // bus thread
    bool Backlogged();                       // bus thread

    BusChoice choice_;
    QThread thread_;
    QObject *context_ = nullptr;       // lives on thread_; queued calls run in its name
    QCanBusDevice *device_ = nullptr;  // lives on thread_; touched only there
    QAbstractSocket *socket_ = nullptr;        // the device's own connection (virtualcan), or none
    QSocketNotifier *wakeNotifier_ = nullptr;  // lives on thread_: wakeFd_ readable -> Drain
    int wakeFd_ = -1;                          // an eventfd, for the whole life of the port

    // Held by the bus thread's side of Open and Close and by their caller reading the outcome, so the
    // hand-over is visible to race checkers that cannot see into Qt's blocking queued call.
    std::mutex handoffMutex_;
    std::mutex stateMutex_;  // the device's state as the bus thread last saw it
    std::condition_variable stateChanged_;
    QCanBusDevice::CanBusDeviceState state_ = QCanBusDevice::UnconnectedState;

    // Bus thread only: the device is being closed on purpose; the loss has been reported for this Open;
    // an error frame is being written (a refusal is not a lost bus).
    bool closing_ = false;
    bool lostReported_ = false;
    bool writingErrorFrame_ = false;

    std::mutex queueMutex_;
    bool open_ = false;
    bool wakePending_ = false;
    std::vector<Outgoing> queue_;  // fixed size, allocated by the constructor
    std::size_t head_ = 0, count_ = 0;

    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> overflowed_{0};
    std::atomic<uint64_t> errorsNotCarried_{0};
    std::atomic<uint64_t> malformed_{0};
};

// A Qt frame to the adapter's view and back. ToBusFrame returns false for anything a classic CAN
// controller cannot send as it is: an error frame, a CAN FD frame, an identifier beyond its 11- or
// 29-bit form, more than 8 bytes, an invalid or unknown frame type.
bool ToBusFrame(const QCanBusFrame &frame, BusFrame &busFrame);
QCanBusFrame ToQtFrame(const BusFrame &busFrame);
// The bus error report bits of an error frame in Linux SocketCAN's layout (protocol violation detail in
// data bytes 2 and 3): no acknowledgement -> 01, form -> 02, CRC -> 04, stuff -> 08; 0 for anything else.
uint8_t ErrorFlagsOf(const QCanBusFrame &frame);
// The other way: the error frame a bus error report's flags stand for, in the same layout, so that
// ErrorFlagsOf(ErrorFrameFor(f)) == f for every f of 00..0F. A bus error (with protocol violation detail
// for form, stuff and CRC, missing acknowledgement for ack); 8 data bytes.
//   01 -> bus error + no ack, 00 00 00 00 ..;  0C -> bus error + protocol violation, data 00 00 04 08 ..
QCanBusFrame ErrorFrameFor(uint8_t flags);
