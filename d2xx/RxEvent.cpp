#include "RxEvent.h"

#include <ctime>

namespace {

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

bool RxEventObject::Wait(std::chrono::milliseconds timeout) {
    const timespec deadline = DeadlineAfter(timeout);
    pthread_mutex_lock(&eMutex);
    bool woken = iVar != 0;
    if (!woken) woken = pthread_cond_timedwait(&eCondVar, &eMutex, &deadline) == 0;
    iVar = 0;
    pthread_mutex_unlock(&eMutex);
    return woken;
}

RxEventObject &RxEvent() {
    static RxEventObject event;
    return event;
}
