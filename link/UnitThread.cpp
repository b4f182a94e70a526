#include "UnitThread.h"

#include <ctime>

#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "SimAdapter.h"

std::mutex PumpMutex;

namespace {

// The emulated library signals through its own interface rather than the vendor's structure.
class SimRxSink final : public SimEventSink {
public:
    void Signal() override { RxEvent().Set(); }
};
SimRxSink simRxSink;

timespec DeadlineAfter(std::chrono::milliseconds timeout) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = now.tv_nsec + static_cast<long long>(timeout.count()) * 1000000LL;
    now.tv_sec += static_cast<time_t>(ns / 1000000000LL);
    now.tv_nsec = static_cast<long>(ns % 1000000000LL);
    return now;
}

}  // namespace

RxEventObject::RxEventObject() {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&eCondVar, &attr);
    pthread_condattr_destroy(&attr);
    pthread_mutex_init(&eMutex, nullptr);
}

void RxEventObject::Set() {
    pthread_mutex_lock(&eMutex);
    iVar = 1;
    pthread_cond_signal(&eCondVar);
    pthread_mutex_unlock(&eMutex);
}

void RxEventObject::Wait(std::chrono::milliseconds timeout) {
    const timespec deadline = DeadlineAfter(timeout);
    pthread_mutex_lock(&eMutex);
    if (iVar == 0) pthread_cond_timedwait(&eCondVar, &eMutex, &deadline);
    iVar = 0;
    pthread_mutex_unlock(&eMutex);
}

void *RxEventObject::DriverParameter() {
    if (FtApi.FT_SetEventNotification == SimD2xxApi().FT_SetEventNotification)
        return static_cast<SimEventSink *>(&simRxSink);
    return this;
}

RxEventObject &RxEvent() {
    static RxEventObject event;
    return event;
}

std::unique_lock<std::mutex> TryEnterPresenceTick() { return std::unique_lock(PumpMutex, std::try_to_lock); }

TEventThread::TEventThread(bool CreateSuspended, PassFn pass, void *context)
    : pass_(pass), context_(context) {
    setObjectName(QStringLiteral("receive"));
    SetFTEventNotification(FT_EVENT_RXCHAR, RxEvent().DriverParameter());
    if (!CreateSuspended) start(QThread::HighestPriority);
}

TEventThread::~TEventThread() { Stop(); }

void TEventThread::Execute() {
    while (!stop_.load()) {
        RxEvent().Wait(RxWaitTimeout);
        if (stop_.load()) break;
        pass_(context_);
        passes_.fetch_add(1);
    }
    // Pairs with the load in Stop(): QThread::wait() orders the thread's end with the caller only
    // through Qt's own lock, which a race checker cannot see; this makes the order visible.
    finished_.store(true, std::memory_order_release);
}

void TEventThread::Stop() {
    stop_.store(true);
    RxEvent().Set();
    if (QThread::currentThread() != this && wait()) (void)finished_.load(std::memory_order_acquire);
}
