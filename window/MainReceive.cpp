// The window as one consumer of the receive pump, and the window's entry points into it.
//
// The pump runs on the receive thread (and on the window thread for Ctrl+R). What one pump means for the
// window (the last frame, whether the counters or the status line changed) is gathered into one record;
// records, and the link's error lines raised on the receive thread, go into one queue in the order they
// were made, and the window thread applies them in that order. A Ctrl+R pump on the window thread
// applies every record still waiting before its own, so the labels never step back to an older frame.
//
// The queue is a fixed ring. Should the window thread fall so far behind that it fills, the newest
// record takes in the next one (the later frame and status win; the counters are totals and lose
// nothing), and a drain merges whatever waits the same way. The window thread is posted one call when the
// queue turns non-empty after a quiet spell; while records keep coming it takes them in every 10 ms.
#include <QLabel>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "D2XXUnit.h"
#include "Main.h"
#include "MainDisplay.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"

namespace {

constexpr std::size_t MaxLineLength = 160;
constexpr std::size_t MaxHintLength = 1024;  // a line's whole story: paths can be long
// The shortest time between two takings of the display queue while records keep coming.
constexpr std::chrono::milliseconds DisplayInterval{10};

struct WindowChanges {
    bool frame = false;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    uint32_t identifier = 0;
    uint8_t info = 0;
    uint8_t data[8]{};
    bool count = false;
    bool errors = false;
    int status = -1;  // type of the last command report, -1: none
    // A status line raised on another thread (empty: none), and its hint (empty: the line itself).
    // Shown after the changes above.
    char line[MaxLineLength]{};
    char hint[MaxHintLength]{};

    bool Any() const { return frame || count || errors || status >= 0 || line[0] != '\0'; }

    // `later` came after this record; the two become one.
    void Absorb(const WindowChanges &later) {
        if (later.frame) {
            frame = true;
            hour = later.hour;
            minute = later.minute;
            second = later.second;
            millisecond = later.millisecond;
            identifier = later.identifier;
            info = later.info;
            std::memcpy(data, later.data, sizeof data);
        }
        count = count || later.count;
        errors = errors || later.errors;
        if (later.status >= 0) {
            status = later.status;
            line[0] = '\0';
            hint[0] = '\0';
        }
        if (later.line[0] != '\0') {
            std::memcpy(line, later.line, sizeof line);
            std::memcpy(hint, later.hint, sizeof hint);
        }
    }
};

class DisplayQueue {
public:
    static constexpr int Capacity = 64;

    // Any thread. True when the window thread must be posted a drain.
    bool Push(const WindowChanges &c) {
        std::lock_guard lock(mutex_);
        if (count_ == Capacity)
            ring_[(head_ + count_ - 1) % Capacity].Absorb(c);
        else
            ring_[(head_ + count_++) % Capacity] = c;
        if (drainPosted_) return false;
        drainPosted_ = true;
        return true;
    }

    // Window thread: takes the oldest record.
    bool Pop(WindowChanges &c) {
        std::lock_guard lock(mutex_);
        if (count_ == 0) return false;
        c = ring_[head_];
        head_ = (head_ + 1) % Capacity;
        --count_;
        return true;
    }

    // Window thread, at the end of a display interval: true, and the next push posts a drain again, when
    // nothing came meanwhile.
    bool Settled() {
        std::lock_guard lock(mutex_);
        if (count_ > 0) return false;
        drainPosted_ = false;
        return true;
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        head_ = count_ = 0;
        drainPosted_ = false;
    }

private:
    std::mutex mutex_;
    WindowChanges ring_[Capacity];
    int head_ = 0, count_ = 0;
    bool drainPosted_ = false;
};

DisplayQueue displayQueue;

// The window whose records may be shown; cleared when its receiving stops, so that a record still on its
// way is dropped. Read on the window thread only.
TfrmMain *receivingWindow = nullptr;

// Window thread.
void Apply(TfrmMain &w, const WindowChanges &c) {
    if (c.frame) w.ReceiveCanData(c.hour, c.minute, c.second, c.millisecond, c.identifier, c.info, c.data);
    if (c.count) w.CanCountShow();
    if (c.errors) w.CanErrorShow();
    if (c.status >= 0) {
        const QString text = QLatin1String("  ") + QLatin1String(StatusTexts[static_cast<std::size_t>(c.status)]);
        w.SetStatusLine(text, text);
    }
    if (c.line[0] != '\0') {
        const QString line = QString::fromUtf8(c.line);
        w.SetStatusLine(line, c.hint[0] != '\0' ? QString::fromUtf8(c.hint) : line);
    }
}

// Everything waiting becomes one record before it is shown: the labels and the status line end as the
// last record leaves them, so setting them once per drain shows the same as once per record, at a fraction
// of the window thread's time when the receive thread pumps faster than the window drains.
void Drain(TfrmMain &w) {
    WindowChanges merged, next;
    if (!displayQueue.Pop(merged)) return;
    while (displayQueue.Pop(next)) merged.Absorb(next);
    if (receivingWindow == &w) Apply(w, merged);
}

// After a drain, what comes within DisplayInterval waits for its end: a record after a quiet spell shows
// at once, and under a flood the window takes in the queue about a hundred times a second rather than
// once per pump. No post is made while an interval runs.
void HoldThenSettle(TfrmMain &w) {
    TfrmMain *target = &w;
    QTimer::singleShot(DisplayInterval, target, [target] {
        if (displayQueue.Settled()) return;
        Drain(*target);
        HoldThenSettle(*target);
    });
}

void Deliver(TfrmMain &w, const WindowChanges &c) {
    const bool post = displayQueue.Push(c);
    if (QThread::currentThread() == w.thread()) {
        Drain(w);
        if (post) HoldThenSettle(w);
        return;
    }
    if (!post) return;
    TfrmMain *target = &w;
    QMetaObject::invokeMethod(
        target,
        [target] {
            Drain(*target);
            HoldThenSettle(*target);
        },
        Qt::QueuedConnection);
}

}  // namespace

// What one read means for the window. Counters are counted here, on the pump's thread; the labels show
// them as they stand when the record is applied, which is at least what the pump counted. Frames the
// adapter sent for the bus mirror are not the window's to show.
class TfrmMain::DisplayConsumer final : public BusConsumer {
public:
    explicit DisplayConsumer(TfrmMain &w) : w_(w) {}

    void Take(std::span<const BusEvent> events) override {
        WindowChanges changes;
        for (const BusEvent &e : events) {
            switch (e.kind) {
                case BusEvent::Kind::Frame:
                    if (e.transmitted) break;
                    changes.frame = true;
                    changes.hour = e.adapterMs / 3'600'000;
                    changes.minute = e.adapterMs / 60'000 % 60;
                    changes.second = e.adapterMs / 1000 % 60;
                    changes.millisecond = e.adapterMs % 1000;
                    changes.identifier = e.id;
                    changes.info = e.info;
                    std::memcpy(changes.data, e.data, sizeof e.data);
                    MessageCount.fetch_add(1);
                    changes.count = true;
                    break;
                case BusEvent::Kind::BusError:
                    w_.CanErrorInc(e.errorFlags);
                    changes.errors = true;
                    break;
                case BusEvent::Kind::CommandReport:
                    changes.status = e.reportType;
                    break;
            }
        }
        if (changes.Any()) Deliver(w_, changes);
    }

private:
    TfrmMain &w_;
};

namespace {

// Cut to `size` bytes with its terminator, never inside a UTF-8 character.
template <std::size_t N>
void CopyText(char (&to)[N], const std::string &text) {
    std::size_t n = std::min(text.size(), N - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

}  // namespace

void TfrmMain::QueueLinkErrorLine(const std::string &line, const std::string &hint) {
    WindowChanges c;
    CopyText(c.line, line);
    CopyText(c.hint, hint);
    Deliver(*this, c);
}

void TfrmMain::ApplyWaitingChanges() { Drain(*this); }

void TfrmMain::DisplayConsumerDelete::operator()(DisplayConsumer *consumer) const { delete consumer; }

// Receive thread: one pass (the receive thread itself calls the pump's pass, which is this).
void TfrmMain::ReceiveData() { (void)ReceivePass(); }

// Ctrl+R on the window thread. Waits for a pass the receive thread may have under way (one read at
// most), then pumps once, reading whatever has arrived up to the link buffer.
void TfrmMain::FTReceiveFileExecute() { session_.PumpNow(); }

void TfrmMain::StartReceiveThread() {
    if (session_.Receiving()) return;
    displayQueue.Clear();
    display_.reset(new DisplayConsumer(*this));
    session_.Add(*display_);
    receivingWindow = this;
    session_.StartReceiving();
}

void TfrmMain::StopReceiveThread() {
    if (receivingWindow == this) receivingWindow = nullptr;
    session_.StopReceiving();
    if (display_) session_.Remove(*display_);
}

uint64_t TfrmMain::ReceivePasses() const { return session_.Passes(); }
