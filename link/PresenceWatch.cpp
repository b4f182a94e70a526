#include "PresenceWatch.h"

#include "CommandWrite.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"

std::atomic<bool> DevicePresent{false};

PresenceChange PresenceTick() {
    ShowLinkErrors.store(false);
    if (!DevicePresent.load()) {
        (void)CloseFTDevice();
        if (OpenFTDevice() != FT_OK) return PresenceChange::None;
        DevicePresent.store(true);
        AdapterClockSet.store(false);  // a newly plugged adapter counts from midnight again
        AdapterBitRate.store(0);       // and has forgotten its bit rate
        (void)ResetFTDevice();
        (void)SetFTTimeouts(LinkTimeoutMs, LinkTimeoutMs);
        // Without this the receive event would stay tied to the handle the receive thread saw at its
        // start (none, or one lost since), and receiving would fall back to the 100 ms poll.
        RegisterRxEvent();
        return PresenceChange::Found;
    }
    if (GetFTQueueStatus() == FT_OK) return PresenceChange::None;
    DevicePresent.store(false);
    AdapterClockSet.store(false);
    AdapterBitRate.store(0);
    return PresenceChange::Lost;
}

const OpenProblem *OpenProblemNotice::After(bool present) {
    if (present) {
        everPresent_ = true;
        shown_ = {};
        return nullptr;
    }
    current_ = LinkOpenProblem();
    if (current_.absent && everPresent_) current_ = {};
    if (current_.text == shown_.text) return nullptr;
    shown_ = current_;
    return current_.text.empty() ? nullptr : &current_;
}
