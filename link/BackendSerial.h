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
//  - FT_Open opens only a terminal that is safe to take, and checks that before it opens anything: a
//    character device of a serial or pseudo-terminal driver, owned by this user or by the system (root),
//    that is no process's controlling terminal, and that is not named by the link of an emulated adapter
//    that is no longer running (see AdapterLinkIsStale). So a FIFO or a plain file is never opened (no
//    writer waiting on a FIFO is released), nor a shell's terminal that happens to get the number a dead
//    emulator had. It opens the node with O_NOCTTY, non-blocking, checks that it is still the node it
//    looked at, takes an advisory lock (flock) and exclusive mode (TIOCEXCL) so that no second Brisklet
//    (not even one run by root, whom TIOCEXCL does not stop) shares the device, keeps the terminal's
//    settings and puts it in raw mode 8N1 at the configured baud rate, ignoring modem lines. FT_Close gives
//    the terminal its settings back before it lets it go.
//    A second open while a handle is open answers FT_DEVICE_NOT_OPENED, as a busy device does; a missing
//    node FT_DEVICE_NOT_FOUND. Every open hands out a new handle value, never null, so a stale handle is
//    never mistaken for the open one. Why the last open failed is kept for the operator (LastOpenProblem).
//  - Once the tty has hung up (the adapter was pulled out, the emulator's pseudo-terminal was closed), or
//    its node has vanished or now names another device, FT_GetQueueStatus answers FT_IO_ERROR, and so do
//    reads, writes and the other calls on that handle, until it is closed.
//  - FT_Read(n) returns as soon as n bytes have arrived, otherwise after the read time-out with what has
//    arrived (FT_OK, possibly 0 bytes). FT_Write waits up to the write time-out for room and then returns
//    FT_OK with a short count. A time-out of 0 means "do not wait" (the vendor's "for ever" could hang the
//    window thread); a fresh handle has DefaultTimeout for both.
//  - Received bytes are taken off the tty the moment they arrive by a reader thread of the open handle,
//    into a fixed receive buffer of RxBufferSize bytes (as the vendor's library does with its own reader
//    thread), so the tty's input queue (about 12 KiB on a pseudo-terminal) never fills while the receive
//    thread waits to be scheduled. FT_Read, FT_GetStatus and FT_GetQueueStatus serve from that buffer.
//    When it is full the reader waits for a read, and the tty pushes back as before. Closing the handle ends
//    the thread before the descriptor is closed.
//  - FT_ResetDevice discards both directions (tcflush and the receive buffer). FT_GetStatus: rx = bytes
//    waiting (the receive buffer and what the tty holds), tx = bytes not yet sent (TIOCOUTQ), event = 0.
//  - FT_SetEventNotification on an open handle with FT_EVENT_RXCHAR and a parameter (the receive event,
//    an RxEventObject) sets the event whenever the reader has taken in bytes. Mask 0 or a null parameter
//    ends the notification.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "ByteRing.h"
#include "D2xxTypes.h"
#include "HeldTerminal.h"
#include "SerialSafety.h"
#include "SerialTarget.h"

class SerialLink {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{1000};
    // Half a second of a saturated 1 Mbit/s bus at the adapter's full report rate.
    static constexpr std::size_t RxBufferSize = std::size_t{1} << 20;

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
    // Why the last open failed; empty text after a successful one.
    OpenProblem LastOpenProblem() const;

private:
    class Use;  // one call's claim on the open descriptor
    using Clock = std::chrono::steady_clock;

    FT_STATUS Claim(FT_HANDLE handle, int &fd);
    void Release();
    void MarkLost() { lost_.store(true); }
    bool NodeChanged() const;  // lock held
    // The checks made before a node is opened; empty when it may be opened. Called without the lock.
    OpenProblem CheckBeforeOpen(const std::string &path, const SerialSettings &settings, struct stat &node);
    // Whether this very node was found to be no process's controlling terminal within the last second
    // (the search reads every process's status: a second window that finds the device busy tick after
    // tick need not repeat it each time). Lock held.
    bool RecentlyFoundFree(const struct stat &node) const;
    FT_STATUS Fail(FT_STATUS status, OpenProblem problem);  // lock held

    void Reader(int fd, int wakeFd);                                 // the reader thread's body
    bool CountReceived(int fd, std::size_t &waiting, bool &hungUp);  // the buffer and the tty, each byte once

    mutable std::mutex mutex_;
    std::condition_variable idle_;  // users_ dropped to 0
    SerialSettings settings_;

    uintptr_t nextHandle_;
    uintptr_t openHandle_ = 0;  // 0: none
    HeldTerminal terminal_;  // the open tty: its settings and exclusivity go back when it is let go
    int fd_ = -1;            // terminal_'s descriptor while it is open
    int wakeFd_ = -1;  // eventfd: readable once Close wants the descriptor back
    int users_ = 0;    // calls between Claim and Release
    bool closing_ = false;
    std::string openPath_;
    dev_t openDevice_ = 0;
    OpenProblem problem_;
    struct stat foundFree_ {};  // the node last found to be no one's controlling terminal
    Clock::time_point foundFreeAt_{};
    std::atomic<bool> lost_{false};
    std::atomic<uint32_t> readTimeoutMs_{static_cast<uint32_t>(DefaultTimeout.count())};
    // The receive side: the reader thread fills a fixed ring that reads empty. rxEvent_ is what the reader
    // sets when bytes came (nullptr: nothing). The ring and the flags below it are guarded by rxMutex_.
    std::thread reader_;
    std::atomic<void *> rxEvent_{nullptr};
    std::mutex rxMutex_;
    std::condition_variable rxArrived_;  // bytes came, the tty hung up, or the handle is closing
    std::condition_variable rxRoom_;     // a read made room, or the handle is closing
    ByteRing rx_{RxBufferSize};
    bool rxHungUp_ = false;  // the reader found the tty hung up: reads end once the ring is empty
    bool rxStop_ = false;    // Close wants the reader and every waiting read gone
    std::atomic<uint32_t> writeTimeoutMs_{static_cast<uint32_t>(DefaultTimeout.count())};
};

// The process-wide link behind the `serial` backend.
SerialLink &TheSerialLink();

// The table that forwards every call to TheSerialLink().
D2xxApi SerialD2xxApi();
