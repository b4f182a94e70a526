#include "unitMy.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

uint8_t XorBytes(const uint8_t *Data, std::size_t Count) {
    uint8_t sum = 0;
    for (std::size_t i = 0; i < Count; ++i) sum ^= Data[i];
    return sum;
}

uint8_t XorChecksum(const uint8_t *Data, uint8_t From, uint8_t To) {
    return To < From ? 0 : XorBytes(Data + From, std::size_t{To} - From + 1);
}

bool TimeValid(int Hour, int Minute, int Second, int Millisecond) {
    return Hour >= 0 && Hour <= 23 && Minute >= 0 && Minute <= 59 && Second >= 0 && Second <= 59 &&
           Millisecond >= 0 && Millisecond <= 999;
}

std::string ZeroPad2(int n) {
    if (n < 0 || n > 99) n = 0;
    std::string s = std::to_string(n);
    return s.size() == 1 ? "0" + s : s;
}

std::string ZeroPad3(int n) {
    if (n < 0 || n > 999) n = 0;
    std::string s = std::to_string(n);
    if (s.size() == 1) return "00" + s;
    if (s.size() == 2) return "0" + s;
    return s;
}

static char FoldUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }

bool IsHexDigit(char C) {
    C = FoldUpper(C);
    return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F');
}

int HexDigitValue(char C) {
    C = FoldUpper(C);
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return 0;
}

uint32_t HexToInt(std::string_view Text) {
    uint32_t value = 0;
    for (char c : Text) value = (value << 4) | static_cast<uint32_t>(HexDigitValue(c));
    return value;
}

int ParseHexBytes(std::string_view Text, uint8_t (&Data)[8]) {
    for (auto &b : Data) b = 0;
    int count = 0;
    int pending = -1;  // value of a single pending digit, or -1
    auto flush = [&] {
        if (pending >= 0) {
            if (count < 8) Data[count++] = static_cast<uint8_t>(pending);
            pending = -1;
        }
    };
    for (char c : Text) {
        if (IsHexDigit(c)) {
            if (pending < 0) {
                pending = HexDigitValue(c);
            } else {
                if (count < 8) Data[count++] = static_cast<uint8_t>(pending * 16 + HexDigitValue(c));
                pending = -1;
            }
        } else {
            flush();
        }
    }
    flush();
    return count;
}

// ---- Delay -------------------------------------------------------------------------------------

uint32_t GetTickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

namespace {

bool OnApplicationThread() {
    const QCoreApplication *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void DispatchApplicationEvents() {
    if (OnApplicationThread()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Sleeps in the event loop until an event arrives or maxWaitMs passes. The wake-up is armed before
// anything is dispatched, so a handler that runs in here counts against maxWaitMs instead of adding to it.
void WaitForApplicationEvents(uint32_t maxWaitMs) {
    const auto ms = std::min<uint32_t>(maxWaitMs, std::numeric_limits<int>::max());
    if (!OnApplicationThread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(static_cast<int>(ms));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

DelayHooks &Hooks() {
    static DelayHooks hooks;
    return hooks;
}

}  // namespace

DelayHooks DefaultDelayHooks() { return DelayHooks{}; }

void SetDelayHooks(const DelayHooks &hooks) { Hooks() = hooks; }

void Delay(uint32_t Milliseconds) {
    const DelayHooks hooks = Hooks();
    auto dispatch = hooks.Dispatch ? hooks.Dispatch : &DispatchApplicationEvents;
    auto wait = hooks.Wait ? hooks.Wait : &WaitForApplicationEvents;
    const uint32_t start = hooks.Tick();
    auto elapsed = [&] { return hooks.Tick() - start; };  // unsigned: correct across the wrap
    while (elapsed() < Milliseconds) {
        dispatch();
        // The time left is measured after the handlers just dispatched: measured before them, the wait
        // would sleep its full length on top of what they took.
        const uint32_t spent = elapsed();
        if (spent >= Milliseconds) return;
        wait(Milliseconds - spent);
    }
}
