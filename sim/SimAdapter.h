// The built-in adapter emulator: the USB serial chip as the D2XX library shows it to the host, with the
// adapter's side of the byte stream open to a firmware model or to tests.
//
// Thread contract: every public method is internally locked and may be called from any thread at once
// (the window thread, the receive thread and a test thread plugging and unplugging). Read and Write wait
// without holding the lock, so a probe on one thread is never held up by a read waiting on another.
//
// What it keeps of the D2XX behaviour:
//  - One device, number 0, listed only while plugged in. FT_ListDevices(&count, nullptr,
//    FT_LIST_NUMBER_ONLY) writes 1 or 0.
//  - Open succeeds only while plugged in and while no other handle is open (a second open answers
//    FT_DEVICE_NOT_OPENED, as a busy device does). Every open hands out a new handle value, never null.
//  - Unplugging loses the open handle: from then on every call on it answers FT_IO_ERROR (reads and
//    writes with a count of 0) until it is closed. Close on a lost handle releases it (FT_OK); close on a
//    null, closed or unknown handle answers FT_INVALID_HANDLE and does nothing else. Other calls on such a
//    handle answer FT_INVALID_HANDLE too.
//  - Two pipes of PipeCapacity bytes each (1 MiB, far above the 32 KiB a single call can move):
//    host->adapter fills with what FT_Write sends, adapter->host with what the adapter sends.
//    FT_Read(n) returns as soon as n bytes are waiting, otherwise after the read time-out with what has
//    arrived (status FT_OK, possibly 0 bytes). FT_Write waits up to the write time-out for room in a full
//    pipe and then returns FT_OK with a short count.
//  - Time-outs belong to the open handle. A fresh handle has DefaultTimeout for both. The vendor library
//    takes a time-out of 0 as "wait for ever"; here 0 means "do not wait", so that no call can hang a
//    test; the program never sets 0.
//  - FT_ResetDevice empties both pipes. Unplugging empties them too (the chip's buffers are lost).
//    Opening and closing leave them as they are.
//  - FT_GetStatus: rx = bytes waiting for the host, tx = bytes the adapter has not taken yet, event = 0.
//  - FT_SetEventNotification works on an open handle only (on any other it answers FT_INVALID_HANDLE and
//    stores nothing), and the registration ends with the handle. Param is the receive event (an
//    RxEventObject*, as for every backend); with FT_EVENT_RXCHAR in the mask it is set whenever bytes
//    arrive for the host. Mask 0 or a null Param removes the registration. The event is set on the thread
//    that delivered the bytes, with no adapter lock held, while the registration is guarded: once
//    FT_SetEventNotification, FT_Close or Unplug has returned, the old event is no longer touched.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "ByteRing.h"
#include "D2xxTypes.h"
#include "RxEvent.h"

class SimAdapter;

// The adapter's firmware, seen from the chip: it is handed every byte the host writes and answers with
// SimAdapter::InjectToHost.
//
// Threading: the callbacks run on the thread that caused them (the host's writer for OnHostBytes, the
// plugging thread for OnPowerChange), never two at once and always in order, with the adapter's state
// lock released. Inside them the firmware may call InjectToHost, Plug, Unplug and the inspection
// methods; it must not call SetFirmware. A firmware that sends on its own (periodic transmissions, bus
// traffic) runs its own thread and calls InjectToHost from there.
class SimFirmware {
public:
    virtual ~SimFirmware() = default;
    // `count` bytes the host has just written, in stream order. A write longer than one delivery chunk
    // arrives in several calls.
    virtual void OnHostBytes(SimAdapter &adapter, const uint8_t *data, std::size_t count) = 0;
    // The adapter has been plugged in (true) or pulled out (false): power on or off for the firmware.
    virtual void OnPowerChange(SimAdapter &adapter, bool plugged) {
        (void)adapter;
        (void)plugged;
    }
};

// The ten D2XX calls, for call counting and fault injection.
enum class SimOp {
    ListDevices,
    Open,
    Close,
    ResetDevice,
    SetTimeouts,
    GetQueueStatus,
    GetStatus,
    Read,
    Write,
    SetEventNotification,
};
constexpr std::size_t SimOpCount = 10;

class SimAdapter {
public:
    static constexpr std::size_t PipeCapacity = std::size_t{1} << 20;
    static constexpr std::chrono::milliseconds DefaultTimeout{1000};
    static constexpr std::size_t FirmwareChunk = 4096;  // largest single OnHostBytes delivery

    SimAdapter();
    SimAdapter(const SimAdapter &) = delete;
    SimAdapter &operator=(const SimAdapter &) = delete;

    // ---- Plug state ----
    void Plug();
    void Unplug();  // loses the open handle, empties both pipes, wakes waiting calls
    bool IsPlugged() const;

    // ---- The D2XX side: the vendor's signatures and status codes ----
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

    // ---- The adapter's side ----
    // Bytes the adapter sends to the host; returns how many fit (0 while unplugged).
    std::size_t InjectToHost(const uint8_t *data, std::size_t count);
    // Takes up to `capacity` bytes the host has written and no firmware has taken; returns the count.
    std::size_t DrainFromHost(uint8_t *out, std::size_t capacity);
    // Attaches the firmware (nullptr detaches). Bytes already waiting from the host are handed to it
    // at once. When this returns, the previous firmware is no longer being called.
    void SetFirmware(SimFirmware *firmware);

    // ---- Inspection ----
    std::size_t BytesToHost() const;    // waiting for the host's read
    std::size_t BytesFromHost() const;  // written by the host, not yet taken by the adapter
    bool IsOpen() const;                // a handle is open on the plugged-in device
    FT_HANDLE OpenHandle() const;       // that handle, or nullptr
    // Time-outs of the open handle in milliseconds; false when no handle is open.
    bool Timeouts(ULONG &readMs, ULONG &writeMs) const;

    // ---- Test support ----
    // The next `times` calls of `op` answer `status` and do nothing else (outputs are left untouched,
    // as the library leaves them undefined on failure). They still count as calls.
    void FailNext(SimOp op, FT_STATUS status, int times = 1);
    uint64_t CallCount(SimOp op) const { return calls_[Index(op)].load(); }
    void ResetCallCounts();
    // Back to the state of a fresh process: unplugged, no handle, no faults, no firmware, empty pipes,
    // call counts 0. Handle values keep increasing, so old handles stay unknown.
    void ResetForTest();

private:
    using Clock = std::chrono::steady_clock;
    enum class HandleState { Open, Lost, Invalid };

    static constexpr std::size_t Index(SimOp op) { return static_cast<std::size_t>(op); }
    // Counts the call and, when a fault is armed for `op`, consumes it into `status`.
    bool InjectedFault(SimOp op, FT_STATUS &status);
    HandleState StateOf(FT_HANDLE handle) const;  // lock held
    static FT_STATUS StatusFor(HandleState state) {
        return state == HandleState::Lost ? FT_IO_ERROR : FT_INVALID_HANDLE;
    }
    void DropHandleLocked();  // lock held: closes or loses the open handle's connection state
    void DeliverToFirmware();
    void SignalHost();

    mutable std::mutex mutex_;            // every field below that is not atomic
    std::condition_variable changed_;     // bytes moved, handle closed or lost, plug state changed
    std::mutex signalMutex_;              // held across Signal(); taken before mutex_
    std::recursive_mutex deliveryMutex_;  // one firmware delivery at a time, in order; taken first

    bool plugged_ = false;
    uintptr_t nextHandle_;
    uintptr_t openHandle_ = 0;  // 0: none
    uintptr_t lostHandle_ = 0;  // the handle that was open when the adapter was unplugged, until closed
    std::chrono::milliseconds readTimeout_ = DefaultTimeout;
    std::chrono::milliseconds writeTimeout_ = DefaultTimeout;
    RxEventObject *event_ = nullptr;  // the registered receive event
    SimFirmware *firmware_ = nullptr;

    ByteRing toHost_{PipeCapacity};
    ByteRing fromHost_{PipeCapacity};
    uint8_t chunk_[FirmwareChunk];  // delivery buffer, used under deliveryMutex_

    std::array<FT_STATUS, SimOpCount> faultStatus_{};
    std::array<int, SimOpCount> faultTimes_{};
    std::array<std::atomic<uint64_t>, SimOpCount> calls_{};
};

// The process-wide emulated adapter behind the `sim` link backend.
SimAdapter &TheSimAdapter();
