#include "UnitThread.h"

#include "D2XXUnit.h"

std::mutex PumpMutex;

TEventThread::TEventThread(bool CreateSuspended, PassFn pass, void *context)
    : pass_(pass), context_(context) {
    setObjectName(QStringLiteral("receive"));
    RegisterRxEvent();
    if (!CreateSuspended) start(QThread::HighestPriority);
}

TEventThread::~TEventThread() { Stop(); }

void TEventThread::Execute() {
    bool again = false;
    while (!stop_.load()) {
        if (again)
            immediatePasses_.fetch_add(1);
        else if (RxEvent().Wait(RxWaitTimeout))
            eventWakes_.fetch_add(1);
        if (stop_.load()) break;
        again = pass_(context_);
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
