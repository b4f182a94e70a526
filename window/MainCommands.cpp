// The command encoder, the bytes taken from the bus settings, and the control panel's four buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <chrono>

#include "CommandWrite.h"
#include "Commands.h"
#include "D2XXUnit.h"
#include "Encoder.h"
#include "IdCoding.h"
#include "Main.h"
#include "PresenceWatch.h"
#include "unitMy.h"

namespace {

// The adapter needs this long to digest one command before the next of a sequence.
constexpr std::chrono::milliseconds CommandSpacing{100};

void WaitBetweenCommands() { Delay(static_cast<uint32_t>(CommandSpacing.count())); }

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

bool TfrmMain::CreateMessage(int Code, int Len, const uint8_t (&Payload)[256]) {
    if (!DevicePresent.load()) return false;
    // No presence tick may probe or re-open the link in the middle of a frame.
    if (Timer1) Timer1->stop();
    const bool whole = WriteCommand(static_cast<uint8_t>(Code & 0xFF), Payload, Len);
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
    const TimingBytes t = TimingBytesForRow(ComboSpeed ? ComboSpeed->currentIndex() : -1);
    T1 = t.T1;
    T2 = t.T2;
    T3 = t.T3;
    if (Ticked(ListeningCheckBox)) {
        Mode = ModeListening;
        // A listening controller may not send: every slot is stopped, and the transmit button with them.
        DisableTransmit();
        WaitBetweenCommands();
        if (btnTransmit0) btnTransmit0->setEnabled(false);
    } else {
        Mode = ModeNormal;
        if (btnTransmit0) btnTransmit0->setEnabled(true);
    }
}

uint8_t TfrmMain::DriverSpeed() { return Ticked(HighSpeed) ? TransceiverHighSpeed : TransceiverLowSpeed; }

// Each handler builds into a buffer of its own: a second sequence started inside one of the waits
// interleaves its commands with ours without sharing any payload.
void TfrmMain::InitCanClick() {
    if (!DevicePresent.load()) {
        ShowDeviceWarning();
        return;
    }
    PayloadBuffer payload{};
    CreateMessage(frame::AdaptorReady, 0, payload);
    WaitBetweenCommands();

    const QTime now = QTime::currentTime();
    CreateMessage(frame::TimeInitialization,
                  TimeInitPayload(now.hour(), now.minute(), now.second(), now.msec(), payload), payload);
    WaitBetweenCommands();

    uint8_t T1 = 0, T2 = 0, T3 = 0, Mode = 0;
    GetCANBTx(T1, T2, T3, Mode);
    const uint8_t transceiver = DriverSpeed();
    CreateMessage(frame::CanInitialization, CanInitPayload({T1, T2, T3}, Mode, transceiver, payload),
                  payload);
    WaitBetweenCommands();

    int t1 = 0, t2 = 0, t3 = 0, t4 = 0, m1 = 0, m2 = 0, m3 = 0, m4 = 0;
    CodeID(HexToInt(EditText(editTag)), false, t1, t2, t3, t4);
    CodeID(HexToInt(EditText(editMask)), false, m1, m2, m3, m4);
    CreateMessage(
        frame::McInitialization,
        McInitPayload(ToIdBytes(t1, t2, t3, t4), ToIdBytes(m1, m2, m3, m4), Ticked(rb2_0A), payload),
        payload);
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
    DisableTransmit();
    WaitBetweenCommands();
    PayloadBuffer payload{};
    CreateMessage(frame::McDisable, McDisablePayload(payload), payload);
    WaitBetweenCommands();
    CreateMessage(frame::CanDisable, 0, payload);
    WaitBetweenCommands();
    PauseState.store(0);
}

void TfrmMain::btnClearClick() {
    CanCountClear();
    CanCountShow();
    CanErrorClear();
    CanErrorShow();
}
