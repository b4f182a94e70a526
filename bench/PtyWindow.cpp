#include "PtyWindow.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "BackendSerial.h"
#include "BenchSupport.h"
#include "D2XXUnit.h"
#include "PresenceWatch.h"

PtyWindow::PtyWindow() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        HangUp();
        return;
    }
    slave_ = name;
    SerialSettings settings;
    settings.path = slave_;
    TheSerialLink().Configure(settings);
    window_ = OpenWindowOn(SerialD2xxApi(), dir_);
}

PtyWindow::~PtyWindow() {
    Close();
    HangUp();
}

bool PtyWindow::Find(int ms) {
    return WaitUntil([] { return DevicePresent.load(); }, ms);
}

void PtyWindow::HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void PtyWindow::Close() {
    if (!window_) return;
    window_->close();
    window_.reset();
}
