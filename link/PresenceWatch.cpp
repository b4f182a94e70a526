#include "PresenceWatch.h"

#include "CommandWrite.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"

std::atomic<bool> DevicePresent{false};

void PresenceTick(PresenceView &view) {
    using Action = PresenceView::Action;
    ShowLinkErrors.store(false);
    if (!DevicePresent.load()) {
        (void)CloseFTDevice();
        if (OpenFTDevice() != FT_OK) return;
        DevicePresent.store(true);
        AdapterClockSet.store(false);  // a newly plugged adapter counts from midnight again
        view.SetPresenceTitle(TitlePresent);
        view.SetActionEnabled(Action::PortConfigure, true);
        view.SetActionEnabled(Action::SendFile, true);
        view.SetActionEnabled(Action::ReceiveFile, true);
        (void)ResetFTDevice();
        (void)SetFTTimeouts(LinkTimeoutMs, LinkTimeoutMs);
        // Without this the receive event would stay tied to the handle the receive thread saw at its
        // start (none, or one lost since), and receiving would fall back to the 100 ms poll.
        RegisterRxEvent();
        return;
    }
    if (GetFTQueueStatus() == FT_OK) return;
    DevicePresent.store(false);
    AdapterClockSet.store(false);
    view.SetPresenceTitle(TitleLost);
    view.SetActionEnabled(Action::SendFile, false);
    view.SetActionEnabled(Action::ReceiveFile, false);
    view.SetActionEnabled(Action::PortConfigure, false);
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
