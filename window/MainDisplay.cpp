// The received-frame labels and the counters.
#include "MainDisplay.h"

#include <QLabel>
#include <algorithm>
#include <limits>

#include "Commands.h"
#include "IdCoding.h"
#include "Main.h"
#include "unitMy.h"

std::atomic<int64_t> MessageCount{0};
std::atomic<int64_t> StuffErrorCount{0};
std::atomic<int64_t> CrcErrorCount{0};
std::atomic<int64_t> FormErrorCount{0};
std::atomic<int64_t> AckErrorCount{0};

namespace {
using namespace buserror;
const char HexDigits[] = "0123456789ABCDEF";
constexpr int64_t CountTop = std::numeric_limits<int64_t>::max();

// Adds one, staying at the top once there. Only the pump adds, so the test and the add need no loop.
void CountOne(std::atomic<int64_t> &counter) {
    if (counter.load(std::memory_order_relaxed) < CountTop) counter.fetch_add(1);
}
}  // namespace

QString ArrivalTimeText(int Hour, int Minute, int Second, int Millisecond) {
    return QString::number(Hour) + ':' + QString::fromStdString(ZeroPad2(Minute)) + ':' +
           QString::fromStdString(ZeroPad2(Second)) + '.' + QString::fromStdString(ZeroPad3(Millisecond));
}

QString IdentifierText(uint32_t Identifier) {
    return QStringLiteral("%1").arg(Identifier, 8, 16, QLatin1Char('0')).toUpper();
}

QString DataBytesText(const uint8_t *Data, int Count) {
    if (Count > MaxDataBytes) Count = MaxDataBytes;
    QString text;
    for (int i = 0; i < Count; ++i) {
        text += QLatin1Char(HexDigits[Data[i] >> 4]);
        text += QLatin1Char(HexDigits[Data[i] & 0x0F]);
        text += QLatin1String("  ");
    }
    return text;
}

QString ErrorHintText() {
    return QStringLiteral("Stuff: %1, CRC: %2, Form: %3, Ack: %4")
        .arg(StuffErrorCount.load())
        .arg(CrcErrorCount.load())
        .arg(FormErrorCount.load())
        .arg(AckErrorCount.load());
}

int64_t ErrorTotal() {
    int64_t total = 0;
    for (const std::atomic<int64_t> *counter :
         {&StuffErrorCount, &CrcErrorCount, &FormErrorCount, &AckErrorCount}) {
        const int64_t n = std::max<int64_t>(counter->load(), 0);
        if (n > CountTop - total) return CountTop;
        total += n;
    }
    return total;
}

void TfrmMain::ReceiveCanData(int Hour, int Minute, int Second, int Millisecond, uint32_t Identifier,
                              uint8_t Info, const uint8_t (&Data)[8]) {
    if (lblTime) lblTime->setText(ArrivalTimeText(Hour, Minute, Second, Millisecond));
    if (lblID) lblID->setText(IdentifierText(Identifier));
    if (lblData) lblData->setText(DataBytesText(Data, Info & ~InfoExtendedFlag));
}

void TfrmMain::CanCountClear() { MessageCount.store(0); }

void TfrmMain::CanCountShow() {
    if (lblMessCount) lblMessCount->setText(QString::number(MessageCount.load()));
}

void TfrmMain::CanErrorClear() {
    StuffErrorCount.store(0);
    CrcErrorCount.store(0);
    FormErrorCount.store(0);
    AckErrorCount.store(0);
}

// Touches no control, so the pump may call it on the receive thread.
void TfrmMain::CanErrorInc(uint8_t Flags) {
    if (Flags & StuffBit) CountOne(StuffErrorCount);
    if (Flags & CrcBit) CountOne(CrcErrorCount);
    if (Flags & FormBit) CountOne(FormErrorCount);
    if (Flags & AckBit) CountOne(AckErrorCount);
}

void TfrmMain::CanErrorShow() {
    if (!lblMessError) return;
    lblMessError->setText(QString::number(ErrorTotal()));
    lblMessError->setToolTip(ErrorHintText());
}
