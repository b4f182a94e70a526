// The presence watch's view of the window: the caption and the three adapter-bound actions.
#include <QAction>

#include "Main.h"
#include "PresenceWatch.h"
#include "UnitThread.h"

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
    // A tick never runs beside a receive pump: while the receive thread holds the pump, this tick is
    // skipped, as if the timer had been switched off for the pump's duration.
    auto hold = TryEnterPresenceTick();
    if (!hold.owns_lock()) return;
    WindowPresenceView view(*this);
    PresenceTick(view);
}
