// Transmission from slot 0 and the slot stops.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include "Commands.h"
#include "Main.h"
#include "MessageBoxes.h"
#include "PeriodText.h"
#include "PresenceWatch.h"
#include "unitMy.h"

namespace {

bool Ticked(const QAbstractButton *b) { return b != nullptr && b->isChecked(); }

std::string EditText(const QLineEdit *edit) {
    return edit ? edit->text().toLatin1().toStdString() : std::string();
}

}  // namespace

void TfrmMain::btnSend0Click() { SendCanData(0); }

void TfrmMain::SendCanData(int Slot) {
    if (!DevicePresent.load()) {
        ShowDeviceWarning();
        return;
    }
    int32_t period = 0;
    if (!PeriodFromText(EditText(editTime), period)) {
        ShowMessageBox(this, BoxIcon::Error, QStringLiteral("ERROR"), QStringLiteral("Convert data Error!"));
        return;
    }
    const uint8_t flags = TransmitFlags(Ticked(PeriodBox), Ticked(ShowFrame));
    const bool remote = Ticked(RTRBox);
    const uint32_t identifier = HexToInt(EditText(editID));
    uint8_t data[MaxDataBytes];
    const int count = ParseHexBytes(EditText(editData), data);
    TransmitCanData(Slot, period, flags, remote, identifier, count, data);
}

void TfrmMain::TransmitCanData(int Slot, int32_t Period, uint8_t Flags, bool Remote, uint32_t Identifier,
                               int Count, const uint8_t (&Data)[8]) {
    const bool extended = !Ticked(rb2_0A);
    int ID1 = 0, ID2 = 0, ID3 = 0, ID4 = 0;
    CodeID(Identifier, Remote, ID1, ID2, ID3, ID4);
    const IdBytes id{static_cast<uint8_t>(ID1), static_cast<uint8_t>(ID2), static_cast<uint8_t>(ID3),
                     static_cast<uint8_t>(ID4)};
    PayloadBuffer payload{};
    const int len = OutInitPayload(static_cast<uint8_t>(Slot), Period, Flags, id, InfoByte(Count, extended),
                                   Data, Count, payload);
    CreateMessage(frame::OutInitialization, len, payload);
}

void TfrmMain::StopCanData(uint8_t Slot) {
    if (!DevicePresent.load()) {
        ShowDeviceWarning();
        return;
    }
    PayloadBuffer payload{};
    CreateMessage(frame::OutDisable, OutDisablePayload(Slot, payload), payload);
}

void TfrmMain::btnStop0Click() { StopCanData(0); }
