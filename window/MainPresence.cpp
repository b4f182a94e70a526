// The presence watch's view of the window: the caption and the three adapter-bound actions; and why the
// adapter cannot be opened, said once for each new reason on stderr and in the status line.
#include <QAction>
#include <QTimer>

#include "Main.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"

namespace {

class WindowPresenceView final : public PresenceView {
public:
    explicit WindowPresenceView(TfrmMain &w) : w_(w) {}
    void SetPresenceTitle(const char *title) override { w_.setWindowTitle(QString::fromLatin1(title)); }
    void SetActionEnabled(Action action, bool enabled) override {
        switch (action) {
            case Action::PortConfigure: w_.FTPort_Configure->setEnabled(enabled); break;
            case Action::SendFile: w_.FTSendFile->setEnabled(enabled); break;
            case Action::ReceiveFile: w_.FTReceiveFile->setEnabled(enabled); break;
        }
    }

private:
    TfrmMain &w_;
};

}  // namespace

void TfrmMain::Timer1Timer() {
    // A tick never runs beside a receive pump: it waits for the pass under way (one read at most), as
    // if the timer had been switched off for the pump's duration, and the receive thread lets it in
    // before its next pass, so that a flood cannot starve the watch.
    const bool wasPresent = DevicePresent.load();
    {
        auto hold = EnterPumpGate();
        WindowPresenceView view(*this);
        PresenceTick(view);
    }
    ReportOpenProblem();
    // Found (at start or after a replug): the adapter has its power-on settings again. The sequence runs
    // outside this tick, since its waits dispatch further ticks.
    if (initializeOnFind_ && !wasPresent && DevicePresent.load())
        QTimer::singleShot(0, this, [this] {
            if (DevicePresent.load()) InitCanClick();  // lost again meanwhile: no warning box for that
        });
}

void TfrmMain::ReportOpenProblem() {
    const OpenProblem *problem = openProblems_.After(DevicePresent.load());
    if (!problem) return;
    sayOnStderr_(problem->text);
    ErrorMessages(QString::fromStdString(problem->text));
}
