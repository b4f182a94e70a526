// The command encoder, the bytes taken from the bus settings, and the control panel's four buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTime>
#include <QTimer>
#include <QToolButton>

#include "AdapterSequences.h"
#include "Commands.h"
#include "D2XXUnit.h"
#include "Encoder.h"
#include "IdCoding.h"
#include "Main.h"
#include "PresenceWatch.h"
#include "unitMy.h"

namespace {

bool Ticked(const QAbstractButton *b) { return b != nullptr && b->isChecked(); }

// The hex parsers work on 8-bit characters; anything outside Latin-1 becomes '?', a non-digit.
std::string EditText(const QLineEdit *edit) {
    return edit ? edit->text().toLatin1().toStdString() : std::string();
}

IdBytes ToIdBytes(int ID1, int ID2, int ID3, int ID4) {
    return {static_cast<uint8_t>(ID1), static_cast<uint8_t>(ID2), static_cast<uint8_t>(ID3),
            static_cast<uint8_t>(ID4)};
}

}  // namespace

// The window's side of a command sequence: every command through CreateMessage, the waits dispatching
// window events, and the settings read from the controls the moment each command is built.
class TfrmMain::Channel final : public CommandChannel {
public:
    explicit Channel(TfrmMain &w) : w_(w) {}
    void Send(uint8_t code, const PayloadBuffer &payload, int length) override { w_.CreateMessage(code, length, payload); }
    void Wait() override { Delay(static_cast<uint32_t>(CommandSpacing.count())); }
    TimeOfDay Now() override {
        const QTime now = QTime::currentTime();
        return {now.hour(), now.minute(), now.second(), now.msec()};
    }
    BusBytes Bus() override {
        BusBytes bus;
        w_.GetCANBTx(bus.timing.T1, bus.timing.T2, bus.timing.T3, bus.mode);
        bus.transceiver = w_.DriverSpeed();
        return bus;
    }
    FilterBytes Filter() override {
        int t1 = 0, t2 = 0, t3 = 0, t4 = 0, m1 = 0, m2 = 0, m3 = 0, m4 = 0;
        w_.CodeID(HexToInt(EditText(w_.editTag)), false, t1, t2, t3, t4);
        w_.CodeID(HexToInt(EditText(w_.editMask)), false, m1, m2, m3, m4);
        return {ToIdBytes(t1, t2, t3, t4), ToIdBytes(m1, m2, m3, m4), Ticked(w_.rb2_0A)};
    }

private:
    TfrmMain &w_;
};

bool TfrmMain::CreateMessage(int Code, int Len, const uint8_t (&Payload)[256]) {
    if (!DevicePresent.load()) return false;
    // No presence tick may probe or re-open the link in the middle of a frame.
    if (Timer1) Timer1->stop();
    const bool whole = session_.WriteCommand(static_cast<uint8_t>(Code & 0xFF), Payload, Len);
    if (Timer1) Timer1->start();
    return whole;
}

void TfrmMain::CodeID(uint32_t Identifier, bool Remote, int &ID1, int &ID2, int &ID3, int &ID4) {
    const IdBytes b = EncodeId(Identifier, Remote, Ticked(rb2_0A));
    ID1 = b.ID1;
    ID2 = b.ID2;
    ID3 = b.ID3;
    ID4 = b.ID4;
}

void TfrmMain::GetCANBTx(uint8_t &T1, uint8_t &T2, uint8_t &T3, uint8_t &Mode) {
    CanSetup setup;
    setup.bitRateRow = ComboSpeed ? ComboSpeed->currentIndex() : -1;
    setup.listening = Ticked(ListeningCheckBox);
    // A listening controller may not send: every slot is stopped first, and the transmit button goes too.
    Channel channel(*this);
    const BusBytes bus = BusBytesFor(setup, channel);
    T1 = bus.timing.T1;
    T2 = bus.timing.T2;
    T3 = bus.timing.T3;
    Mode = bus.mode;
    if (btnTransmit0) btnTransmit0->setEnabled(!setup.listening);
}

uint8_t TfrmMain::DriverSpeed() { return Ticked(HighSpeed) ? TransceiverHighSpeed : TransceiverLowSpeed; }

void TfrmMain::InitCanClick() {
    if (!DevicePresent.load()) {
        ShowDeviceWarning();
        return;
    }
    Channel channel(*this);
    InitializeSequence(channel);
    PauseState.store(0);
}

void TfrmMain::btnPauseClick() {
    if (!DevicePresent.load()) {
        ShowDeviceWarning();
        return;
    }
    const bool paused = PauseState.load() == 0;
    PauseState.store(paused ? 1 : 0);
    PayloadBuffer payload{};
    CreateMessage(frame::Pause, PausePayload(paused, payload), payload);
}

void TfrmMain::DisableCanClick() {
    if (!DevicePresent.load()) {
        ShowDeviceWarning();
        return;
    }
    Channel channel(*this);
    DisableSequence(channel);
    PauseState.store(0);
}

// Silent when absent: a sequence that lost the adapter during one of its waits must not raise a box.
void TfrmMain::DisableTransmit() {
    if (!DevicePresent.load()) return;
    Channel channel(*this);
    DisableTransmitSequence(channel);
}

void TfrmMain::btnClearClick() {
    CanCountClear();
    CanCountShow();
    CanErrorClear();
    CanErrorShow();
}
