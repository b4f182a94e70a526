// The receive pump and the receive thread's entry into the window.
#include "Main.h"

void TfrmMain::ReceiveData() {}
void TfrmMain::FTReceiveFileExecute() {}
void TfrmMain::StartReceiveThread() {}
void TfrmMain::StopReceiveThread() {}
