// The receive pump and the receive thread's entry into the window.
//
// The pump reads, cuts and decodes on the thread that runs it and gathers what the window must show
// into one WindowChanges record. On the window thread (Ctrl+R) the record is applied at once; on the
// receive thread it travels to the window thread in one queued call. The link's error lines from the
// receive thread travel through the same queue (the link error sink posts them), so everything the
// receive thread causes reaches the window in the order it happened. Within one pump the record keeps
// only the last frame and the last status text: no other writer can come between them.
//
// Cost: an idle pass allocates nothing; a pump allocates one queued call at most, however many frames
// it decodes (the frames themselves live in fixed buffers).
#include <QLabel>
#include <QMetaObject>
#include <QStatusBar>
#include <QThread>
#include <cstring>
#include <memory>

#include "D2XXUnit.h"
#include "Decode.h"
#include "Main.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "Reassembly.h"
#include "UnitThread.h"

namespace {

static_assert(LinkBufferSize == reassembly::MaxReadSize);

// The carry, the queue and the work buffer: about 1.3 MB, allocated once with the process. Only the
// holder of PumpMutex touches it.
Reassembly rxStream;

std::unique_ptr<TEventThread> receiveThread;  // window thread only
TfrmMain *receiveThreadOwner = nullptr;       // the window its passes go to
// The window whose pump results may still be shown; cleared when its thread stops so that a result
// still on its way is dropped. Read on the window thread only.
TfrmMain *receivingWindow = nullptr;

struct WindowChanges {
    bool frame = false;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    uint32_t identifier = 0;
    uint8_t info = 0;
    uint8_t data[8]{};
    bool count = false;
    bool errors = false;
    int status = -1;  // type of the last command report, -1: none

    bool Any() const { return frame || count || errors || status >= 0; }
};

class PumpSink final : public DecodeSink {
public:
    PumpSink(TfrmMain &window, WindowChanges &changes) : window_(window), changes_(changes) {}

    void CanFrame(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier, uint8_t Info,
                  const uint8_t (&Data)[8]) override {
        changes_.frame = true;
        changes_.hour = Hour;
        changes_.minute = Minute;
        changes_.second = Second;
        changes_.millisecond = Millisecond;
        changes_.identifier = Identifier;
        changes_.info = Info;
        std::memcpy(changes_.data, Data, sizeof Data);
        MessageCount.fetch_add(1);
        changes_.count = true;
    }
    void BusError(uint8_t Flags) override {
        window_.CanErrorInc(Flags);
        changes_.errors = true;
    }
    void CommandReport(uint8_t Type) override { changes_.status = Type; }

private:
    TfrmMain &window_;
    WindowChanges &changes_;
};

// Window thread. Counters are shown as they stand now, which is at least what the pump counted.
void Apply(TfrmMain &w, const WindowChanges &c) {
    if (c.frame) w.ReceiveCanData(c.hour, c.minute, c.second, c.millisecond, c.identifier, c.info, c.data);
    if (c.count) w.CanCountShow();
    if (c.errors) w.CanErrorShow();
    if (c.status >= 0 && w.StatusPanel1)
        w.ErrorMessages(QLatin1String("  ") + QLatin1String(StatusTexts[static_cast<std::size_t>(c.status)]));
}

// The one pump body; the caller holds PumpMutex. Returns the number of bytes read.
DWORD RunPump(TfrmMain &w) {
    ShowLinkErrors.store(false);
    const DWORD count = ReadFTDevice(LinkBufferSize);
    rxStream.SaveMessage(InBuffer, static_cast<int>(count));

    WindowChanges changes;
    PumpSink sink(w, changes);
    FrameBuffer msg;
    while (rxStream.TakeMessage(msg)) DecodeMessage(msg, PauseState.load() != 0, sink);

    if (!changes.Any()) return count;
    if (QThread::currentThread() == w.thread()) {
        Apply(w, changes);
        return count;
    }
    TfrmMain *target = &w;
    QMetaObject::invokeMethod(
        target,
        [target, changes] {
            if (receivingWindow == target) Apply(*target, changes);
        },
        Qt::QueuedConnection);
    return count;
}

void ReceivePass(void *window) { static_cast<TfrmMain *>(window)->ReceiveData(); }

}  // namespace

// Receive thread. Holds PumpMutex for each pump with its link calls, so no presence tick runs beside
// them; a tick that finds it taken is skipped, never waited for.
//
// A read that fills the whole buffer means more is waiting, and the pass pumps again at once instead of
// waiting for the next poll: one 32 KiB read per 100 ms is about 12,600 reports/s, less than a saturated
// 1 Mbit/s bus sends, and the backlog would grow until the adapter drops frames. The mutex is let go
// between pumps so that a presence tick or Ctrl+R can still come in during a long drain.
void TfrmMain::ReceiveData() {
    for (;;) {
        std::lock_guard hold(PumpMutex);
        if (!DevicePresent.load()) return;
        if (static_cast<int32_t>(GetFTRxCount()) <= 0) return;
        if (RunPump(*this) < LinkBufferSize) return;
    }
}

// Ctrl+R on the window thread. When the receive thread is pumping right now, this pass is its work
// already: nothing is done rather than waiting for it.
void TfrmMain::FTReceiveFileExecute() {
    std::unique_lock hold(PumpMutex, std::try_to_lock);
    if (!hold.owns_lock()) return;
    RunPump(*this);
}

void TfrmMain::StartReceiveThread() {
    if (receiveThread) return;
    {
        std::lock_guard hold(PumpMutex);
        rxStream.Reset();  // an earlier window's tail is no part of this one's stream
    }
    receivingWindow = this;
    receiveThreadOwner = this;
    receiveThread = std::make_unique<TEventThread>(false, &ReceivePass, this);
}

void TfrmMain::StopReceiveThread() {
    if (receivingWindow == this) receivingWindow = nullptr;
    if (receiveThread && receiveThreadOwner == this) {
        receiveThread->Stop();
        receiveThread.reset();
        receiveThreadOwner = nullptr;
    }
}
