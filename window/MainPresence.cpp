// The presence watch as the window shows it: the caption and the three adapter-bound actions; and why the
// adapter cannot be opened, said once for each new reason on stderr and in the status line.
#include <QAction>
#include <QTimer>

#include "Main.h"
#include "PresenceWatch.h"
#include "ReceivePump.h"

void TfrmMain::Timer1Timer() {
    // A tick never runs beside a receive pump: it waits for the pass under way (one read at most), as
    // if the timer had been switched off for the pump's duration, and the receive thread lets it in
    // before its next pass, so that a flood cannot starve the watch.
    const AdapterSession::TickResult tick = session_.Tick();
    switch (tick.change) {
        case PresenceChange::None: break;
        case PresenceChange::Found:
            setWindowTitle(QString::fromLatin1(TitlePresent));
            FTPort_Configure->setEnabled(true);
            FTSendFile->setEnabled(true);
            FTReceiveFile->setEnabled(true);
            break;
        case PresenceChange::Lost:
            setWindowTitle(QString::fromLatin1(TitleLost));
            FTSendFile->setEnabled(false);
            FTReceiveFile->setEnabled(false);
            FTPort_Configure->setEnabled(false);
            break;
    }
    if (tick.problem) {
        sayOnStderr_(tick.problem->text);
        ErrorMessages(QString::fromStdString(tick.problem->text));
    }
    // Found (at start or after a replug): the adapter has its power-on settings again. The sequence runs
    // outside this tick, since its waits dispatch further ticks.
    if (initializeOnFind_ && tick.change == PresenceChange::Found)
        QTimer::singleShot(0, this, [this] {
            if (DevicePresent.load()) InitCanClick();  // lost again meanwhile: no warning box for that
        });
}
