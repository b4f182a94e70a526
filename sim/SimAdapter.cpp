#include "SimAdapter.h"

// Lock order, outermost first: deliveryMutex_, signalMutex_, mutex_. A call never waits for bytes or room
// while holding anything but mutex_, and releases that while it waits.

namespace {

// Handle values are counted from here so that a stray small integer is never mistaken for a handle.
constexpr uintptr_t FirstHandle = 0x5A1D0001u;

uintptr_t HandleValue(FT_HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

SimAdapter::SimAdapter() : nextHandle_(FirstHandle) {}

SimAdapter &TheSimAdapter() {
    static SimAdapter adapter;
    return adapter;
}

// ---- Plug state ------------------------------------------------------------------------------------

void SimAdapter::Plug() {
    std::lock_guard delivery(deliveryMutex_);
    SimFirmware *firmware;
    {
        std::lock_guard lock(mutex_);
        if (plugged_) return;
        plugged_ = true;
        firmware = firmware_;
        changed_.notify_all();
    }
    if (firmware) firmware->OnPowerChange(*this, true);
}

void SimAdapter::Unplug() {
    std::lock_guard delivery(deliveryMutex_);
    SimFirmware *firmware;
    {
        std::lock_guard signal(signalMutex_);
        std::lock_guard lock(mutex_);
        if (!plugged_) return;
        plugged_ = false;
        if (openHandle_ != 0) {
            lostHandle_ = openHandle_;
            openHandle_ = 0;
            DropHandleLocked();
        }
        toHost_.Clear();
        fromHost_.Clear();
        firmware = firmware_;
        changed_.notify_all();
    }
    if (firmware) firmware->OnPowerChange(*this, false);
}

bool SimAdapter::IsPlugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

// ---- Helpers ---------------------------------------------------------------------------------------

bool SimAdapter::InjectedFault(SimOp op, FT_STATUS &status) {
    const std::size_t i = Index(op);
    calls_[i].fetch_add(1);
    std::lock_guard lock(mutex_);
    if (faultTimes_[i] <= 0) return false;
    --faultTimes_[i];
    status = faultStatus_[i];
    return true;
}

SimAdapter::HandleState SimAdapter::StateOf(FT_HANDLE handle) const {
    const uintptr_t value = HandleValue(handle);
    if (value == 0) return HandleState::Invalid;
    if (value == openHandle_) return HandleState::Open;
    if (value == lostHandle_) return HandleState::Lost;
    return HandleState::Invalid;
}

void SimAdapter::DropHandleLocked() {
    event_ = nullptr;
    readTimeout_ = DefaultTimeout;
    writeTimeout_ = DefaultTimeout;
}

void SimAdapter::DeliverToFirmware() {
    std::lock_guard delivery(deliveryMutex_);
    for (;;) {
        SimFirmware *firmware;
        std::size_t count;
        {
            std::lock_guard lock(mutex_);
            firmware = firmware_;
            if (!firmware) return;
            count = fromHost_.Pop(chunk_, FirmwareChunk);
            if (count == 0) return;
            changed_.notify_all();  // room for a writer waiting on a full pipe
        }
        firmware->OnHostBytes(*this, chunk_, count);
    }
}

void SimAdapter::SignalHost() {
    std::lock_guard signal(signalMutex_);
    RxEventObject *event;
    {
        std::lock_guard lock(mutex_);
        event = event_;
    }
    if (event) event->Set();
}

// ---- The D2XX side ---------------------------------------------------------------------------------

FT_STATUS SimAdapter::ListDevices(void *pArg1, void *, DWORD Flags) {
    FT_STATUS status;
    if (InjectedFault(SimOp::ListDevices, status)) return status;
    // Only the count query is emulated; listing by index or description is not something Brisklet asks.
    if (Flags != FT_LIST_NUMBER_ONLY || pArg1 == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard lock(mutex_);
    *static_cast<DWORD *>(pArg1) = plugged_ ? 1 : 0;
    return FT_OK;
}

FT_STATUS SimAdapter::Open(int deviceNumber, FT_HANDLE *pHandle) {
    FT_STATUS status;
    if (InjectedFault(SimOp::Open, status)) return status;
    if (pHandle == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard lock(mutex_);
    if (!plugged_ || deviceNumber != 0) return FT_DEVICE_NOT_FOUND;
    if (openHandle_ != 0) return FT_DEVICE_NOT_OPENED;
    openHandle_ = nextHandle_++;
    DropHandleLocked();
    *pHandle = reinterpret_cast<FT_HANDLE>(openHandle_);
    return FT_OK;
}

FT_STATUS SimAdapter::Close(FT_HANDLE ftHandle) {
    FT_STATUS status;
    if (InjectedFault(SimOp::Close, status)) return status;
    std::lock_guard signal(signalMutex_);
    std::lock_guard lock(mutex_);
    switch (StateOf(ftHandle)) {
        case HandleState::Open:
            openHandle_ = 0;
            DropHandleLocked();
            changed_.notify_all();  // a read or write waiting on this handle ends now
            return FT_OK;
        case HandleState::Lost: lostHandle_ = 0; return FT_OK;
        case HandleState::Invalid: break;
    }
    return FT_INVALID_HANDLE;
}

FT_STATUS SimAdapter::ResetDevice(FT_HANDLE ftHandle) {
    FT_STATUS status;
    if (InjectedFault(SimOp::ResetDevice, status)) return status;
    std::lock_guard lock(mutex_);
    const HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    toHost_.Clear();
    fromHost_.Clear();
    changed_.notify_all();
    return FT_OK;
}

FT_STATUS SimAdapter::SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    FT_STATUS status;
    if (InjectedFault(SimOp::SetTimeouts, status)) return status;
    std::lock_guard lock(mutex_);
    const HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    readTimeout_ = std::chrono::milliseconds(ReadTimeout);
    writeTimeout_ = std::chrono::milliseconds(WriteTimeout);
    return FT_OK;
}

FT_STATUS SimAdapter::GetQueueStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes) {
    FT_STATUS status;
    if (InjectedFault(SimOp::GetQueueStatus, status)) return status;
    if (dwRxBytes == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard lock(mutex_);
    const HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    *dwRxBytes = static_cast<DWORD>(toHost_.Size());
    return FT_OK;
}

FT_STATUS SimAdapter::GetStatus(FT_HANDLE ftHandle, DWORD *dwRxBytes, DWORD *dwTxBytes, DWORD *dwEventDWord) {
    FT_STATUS status;
    if (InjectedFault(SimOp::GetStatus, status)) return status;
    if (dwRxBytes == nullptr || dwTxBytes == nullptr || dwEventDWord == nullptr) return FT_INVALID_PARAMETER;
    std::lock_guard lock(mutex_);
    const HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    *dwRxBytes = static_cast<DWORD>(toHost_.Size());
    *dwTxBytes = static_cast<DWORD>(fromHost_.Size());
    *dwEventDWord = 0;
    return FT_OK;
}

FT_STATUS SimAdapter::Read(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToRead, DWORD *lpBytesReturned) {
    FT_STATUS status;
    if (InjectedFault(SimOp::Read, status)) return status;
    if (lpBytesReturned == nullptr || (lpBuffer == nullptr && dwBytesToRead > 0)) return FT_INVALID_PARAMETER;
    *lpBytesReturned = 0;
    std::unique_lock lock(mutex_);
    HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    const auto deadline = Clock::now() + readTimeout_;
    changed_.wait_until(lock, deadline, [&] {
        return toHost_.Size() >= dwBytesToRead || StateOf(ftHandle) != HandleState::Open;
    });
    state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    *lpBytesReturned = static_cast<DWORD>(toHost_.Pop(static_cast<uint8_t *>(lpBuffer), dwBytesToRead));
    return FT_OK;
}

FT_STATUS SimAdapter::Write(FT_HANDLE ftHandle, void *lpBuffer, DWORD dwBytesToWrite, DWORD *lpBytesWritten) {
    FT_STATUS status;
    if (InjectedFault(SimOp::Write, status)) return status;
    if (lpBytesWritten == nullptr || (lpBuffer == nullptr && dwBytesToWrite > 0)) return FT_INVALID_PARAMETER;
    *lpBytesWritten = 0;
    const auto *data = static_cast<const uint8_t *>(lpBuffer);
    std::unique_lock lock(mutex_);
    HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    const auto deadline = Clock::now() + writeTimeout_;
    std::size_t done = 0;
    for (;;) {
        done += fromHost_.Push(data + done, dwBytesToWrite - done);
        if (done == dwBytesToWrite) break;
        if (firmware_) {
            // The firmware empties the pipe on this thread; hand it what is there and go on filling.
            lock.unlock();
            DeliverToFirmware();
            lock.lock();
        } else if (!changed_.wait_until(lock, deadline, [&] {
                       return fromHost_.Free() > 0 || StateOf(ftHandle) != HandleState::Open;
                   })) {
            break;  // time-out: a short write, no failure
        }
        state = StateOf(ftHandle);
        if (state != HandleState::Open) return StatusFor(state);  // the bytes went with the adapter
    }
    const bool deliver = firmware_ != nullptr;
    lock.unlock();
    if (deliver) DeliverToFirmware();
    *lpBytesWritten = static_cast<DWORD>(done);
    return FT_OK;
}

FT_STATUS SimAdapter::SetEventNotification(FT_HANDLE ftHandle, DWORD Mask, void *Param) {
    FT_STATUS status;
    if (InjectedFault(SimOp::SetEventNotification, status)) return status;
    std::lock_guard signal(signalMutex_);
    std::lock_guard lock(mutex_);
    const HandleState state = StateOf(ftHandle);
    if (state != HandleState::Open) return StatusFor(state);
    event_ = (Mask & FT_EVENT_RXCHAR) != 0 ? static_cast<RxEventObject *>(Param) : nullptr;
    return FT_OK;
}

// ---- The adapter's side ----------------------------------------------------------------------------

std::size_t SimAdapter::InjectToHost(const uint8_t *data, std::size_t count) {
    std::size_t accepted;
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) return 0;
        accepted = toHost_.Push(data, count);
        if (accepted == 0) return 0;
        changed_.notify_all();
    }
    SignalHost();
    return accepted;
}

std::size_t SimAdapter::DrainFromHost(uint8_t *out, std::size_t capacity) {
    std::lock_guard lock(mutex_);
    const std::size_t count = fromHost_.Pop(out, capacity);
    if (count > 0) changed_.notify_all();
    return count;
}

void SimAdapter::SetFirmware(SimFirmware *firmware) {
    std::lock_guard delivery(deliveryMutex_);
    {
        std::lock_guard lock(mutex_);
        firmware_ = firmware;
    }
    DeliverToFirmware();
}

// ---- Inspection and test support -------------------------------------------------------------------

std::size_t SimAdapter::BytesToHost() const {
    std::lock_guard lock(mutex_);
    return toHost_.Size();
}

std::size_t SimAdapter::BytesFromHost() const {
    std::lock_guard lock(mutex_);
    return fromHost_.Size();
}

bool SimAdapter::IsOpen() const {
    std::lock_guard lock(mutex_);
    return openHandle_ != 0;
}

FT_HANDLE SimAdapter::OpenHandle() const {
    std::lock_guard lock(mutex_);
    return reinterpret_cast<FT_HANDLE>(openHandle_);
}

bool SimAdapter::Timeouts(ULONG &readMs, ULONG &writeMs) const {
    std::lock_guard lock(mutex_);
    if (openHandle_ == 0) return false;
    readMs = static_cast<ULONG>(readTimeout_.count());
    writeMs = static_cast<ULONG>(writeTimeout_.count());
    return true;
}

void SimAdapter::FailNext(SimOp op, FT_STATUS status, int times) {
    std::lock_guard lock(mutex_);
    faultStatus_[Index(op)] = status;
    faultTimes_[Index(op)] = times;
}

void SimAdapter::ResetCallCounts() {
    for (auto &count : calls_) count.store(0);
}

void SimAdapter::ResetForTest() {
    {
        std::lock_guard delivery(deliveryMutex_);
        std::lock_guard signal(signalMutex_);
        std::lock_guard lock(mutex_);
        plugged_ = false;
        openHandle_ = 0;
        lostHandle_ = 0;
        DropHandleLocked();
        firmware_ = nullptr;
        toHost_.Clear();
        fromHost_.Clear();
        faultStatus_.fill(FT_OK);
        faultTimes_.fill(0);
        changed_.notify_all();
    }
    ResetCallCounts();
}
