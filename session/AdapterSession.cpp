#include "AdapterSession.h"

#include "CommandWrite.h"
#include "D2XXUnit.h"
#include "UnitThread.h"

namespace {

bool Pass(void *) { return ReceivePass(); }

}  // namespace

AdapterSession::AdapterSession() = default;

AdapterSession::~AdapterSession() { StopReceiving(); }

AdapterSession::TickResult AdapterSession::Tick() {
    TickResult result;
    {
        auto hold = EnterPumpGate();
        result.change = PresenceTick();
    }
    result.problem = problems_.After(DevicePresent.load());
    return result;
}

void AdapterSession::StartReceiving() {
    if (thread_) return;
    ResetReceiveStream();
    thread_ = std::make_unique<TEventThread>(false, &Pass, nullptr);
}

void AdapterSession::StopReceiving() {
    if (!thread_) return;
    thread_->Stop();
    thread_.reset();
}

uint64_t AdapterSession::Passes() const { return thread_ ? thread_->Passes() : 0; }

void AdapterSession::PumpNow() {
    auto hold = EnterPumpGate();
    RunPump(LinkBufferSize);
}

bool AdapterSession::WriteCommand(uint8_t code, const PayloadBuffer &payload, int length) {
    return ::WriteCommand(code, payload, length);
}
