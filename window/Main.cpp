#include "Main.h"

#include <QCloseEvent>
#include <QShowEvent>

std::atomic<uint8_t> PauseState{0};
TfrmMain *frmMain = nullptr;

TfrmMain::TfrmMain(const WindowOptions &options, QWidget *parent) : QMainWindow(parent) {
    (void)options;
    frmMain = this;
    BuildControls();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::FormCreate() { LoadSettings(); }
void TfrmMain::FormShow() {}
void TfrmMain::FormClose() { SaveSettings(); }
void TfrmMain::Exit1Click() { close(); }
void TfrmMain::FTQuitExecute() {}
void TfrmMain::ErrorMessages(const QString &) {}
void TfrmMain::Timer1Timer() {}
void TfrmMain::ShowDeviceWarning() {}
void TfrmMain::WireControls() {}
void TfrmMain::showEvent(QShowEvent *event) { QMainWindow::showEvent(event); }
void TfrmMain::closeEvent(QCloseEvent *event) { QMainWindow::closeEvent(event); }
bool TfrmMain::eventFilter(QObject *watched, QEvent *event) { return QMainWindow::eventFilter(watched, event); }
