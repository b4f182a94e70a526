// The serial backend: the D2XX calls carried out on a POSIX tty in raw mode, either an FTDI adapter bound to
// the kernel's ftdi_sio driver (/dev/ttyUSB*) or any tty named by path, a pseudo-terminal included.
//
// Thread contract: every public method is internally locked and may be called from any thread at once.
// Read and Write wait in poll() without holding the lock; Close wakes them and waits until they have let
// go of the descriptor before closing it, so a descriptor number is never used after it has been closed
// (and possibly handed out again by the kernel).
//
// What it keeps of the D2XX behaviour:
//  - One device, number 0. FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) writes 1 while the device
//    node exists, 0 otherwise.
//  - FT_Open opens the node (O_NOCTTY, non-blocking), claims it exclusively (TIOCEXCL), puts it in raw
//    mode 8N1 at the configured baud rate, ignoring modem lines. A second open while a handle is open
//    answers FT_DEVICE_NOT_OPENED, as a busy device does; a missing node FT_DEVICE_NOT_FOUND. Every open
//    hands out a new handle value, never null, so a stale handle is never mistaken for the open one.
//  - Once the tty has hung up (the adapter was pulled out, the emulator's pseudo-terminal was closed), or
//    its node has vanished or now names another device, FT_GetQueueStatus answers FT_IO_ERROR, and so do
//    reads, writes and the other calls on that handle, until it is closed.
//  - FT_Read(n) returns as soon as n bytes have arrived, otherwise after the read time-out with what has
//    arrived (FT_OK, possibly 0 bytes). FT_Write waits up to the write time-out for room and then returns
//    FT_OK with a short count. A time-out of 0 means "do not wait" (the vendor's "for ever" could hang the
//    window thread); a fresh handle has DefaultTimeout for both.
//  - FT_ResetDevice discards both directions (tcflush). FT_GetStatus: rx = bytes waiting (FIONREAD),
//    tx = bytes not yet sent (TIOCOUTQ), event = 0.
//  - FT_SetEventNotification on an open handle with FT_EVENT_RXCHAR and a parameter (the receive event,
//    an RxEventObject) sets the event whenever bytes arrive: a notifier thread of the open handle waits in
//    poll() for the tty to become readable, sets the event, and waits for a read before it polls again
//    (poll is level-triggered), or 100 ms should nobody read. Mask 0 or a null parameter ends the
//    notification; closing the handle ends the thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "D2xxTypes.h"

// The chip's own power-on rate. Brisklet's D2XX path never sets a baud rate, so an adapter built on a UART
// chip talks at this rate with the vendor's library; an adapter built on a FIFO chip ignores the setting.
constexpr uint32_t DefaultSerialBaud = 9600;

struct SerialSettings {
    std::string path;  // the node to open; empty: the first FTDI adapter found in sysfs
    uint32_t baud = DefaultSerialBaud;
    std::string sysfsRoot = "/sys";  // where discovery looks (tests point it at a fake tree)
    std::string devRoot = "/dev";    // where discovered nodes live
};

// Parses what follows "serial:" on the command line: "PATH", "PATH@BAUD", "@BAUD" or "" (discover, at
// the default rate). Only a suffix of digits after the last '@' is a rate, so paths holding '@' still work.
// Example: ParseSerialTarget("/dev/ttyUSB1@115200", s, why) -> s.path == "/dev/ttyUSB1", s.baud == 115200.
// False with a reason when the rate is not one the tty layer offers (it leaves `settings` untouched).
bool ParseSerialTarget(std::string_view text, SerialSettings &settings, std::string &why);

// The node of the first tty (lowest number) under <sysfsRoot>/class/tty/ttyUSB* whose USB device has
// vendor id 0403 and which is bound to ftdi_sio, as <devRoot>/ttyUSBn; empty when there is none.
// Example: class/tty/ttyUSB3/device/../../idVendor reads "0403" -> "/dev/ttyUSB3".
std::string FindFtdiTty(const std::string &sysfsRoot, const std::string &devRoot);

class SerialLink {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{1000};

    explicit SerialLink(SerialSettings settings = {});
    ~SerialLink();
    SerialLink(const SerialLink &) = delete;
    SerialLink &operator=(const SerialLink &) = delete;

    // Takes effect at the next open; an open handle keeps its node until it is closed.
    void Configure(const SerialSettings &settings);

    FT_STATUS ListDevices(void *pArg1, void *pArg2, DWORD Flags);
    FT_STATUS Open(int deviceNumber, FT_HANDLE *pHandle);
    FT_STATUS Close(FT_HANDLE ftHandle);
    FT_STATUS ResetDevice(FT_HANDLE ftHandle);
    FT_STATUS SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
    FT_STATUS GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes);
    FT_STATUS GetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord);
    FT_STATUS Read(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned);
    FT_STATUS Write(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten);
    FT_STATUS SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, void *Param);

    // The node the next open would use (discovery runs now when no path is configured); empty: none.
    std::string DevicePath() const;
    bool IsOpen() const;

private:
    class Use;  // one call's claim on the open descriptor
    using Clock = std::chrono::steady_clock;

    FT_STATUS Claim(FT_HANDLE handle, int &fd);
    void Release();
    void MarkLost() { lost_.store(true); }
    bool NodeChanged() const;  // lock held

    void Notify(int fd, int wakeFd);  // the notifier thread's body

    mutable std::mutex mutex_;
    std::condition_variable idle_;  // users_ dropped to 0
    SerialSettings settings_;

    uintptr_t nextHandle_;
    uintptr_t openHandle_ = 0;  // 0: none
    int fd_ = -1;
    int wakeFd_ = -1;  // eventfd: readable once Close wants the descriptor back
    int users_ = 0;    // calls between Claim and Release
    bool closing_ = false;
    std::string openPath_;
    dev_t openDevice_ = 0;
    std::atomic<bool> lost_{false};
    std::atomic<uint32_t> readTimeoutMs_{static_cast<uint32_t>(DefaultTimeout.count())};
    // The receive event's notifier. rxEvent_ is what it sets (nullptr: nothing); readSeq_ counts reads
    // so that it knows when the bytes it announced have been taken.
    std::thread notifier_;
    std::atomic<void *> rxEvent_{nullptr};
    std::atomic<uint64_t> readSeq_{0};
    std::mutex notifyMutex_;
    std::condition_variable readDone_;
    bool stopNotifier_ = false;  // notifyMutex_
    std::atomic<uint32_t> writeTimeoutMs_{static_cast<uint32_t>(DefaultTimeout.count())};
};

// The process-wide link behind the `serial` backend.
SerialLink &TheSerialLink();

// The table that forwards every call to TheSerialLink().
D2xxApi SerialD2xxApi();
