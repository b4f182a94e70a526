// The received-frame labels and the counters.
#include "Main.h"

void TfrmMain::ReceiveCanData(int, int, int, int, uint32_t, uint8_t, const uint8_t (&)[8]) {}
void TfrmMain::CanCountClear() {}
void TfrmMain::CanCountShow() {}
void TfrmMain::CanErrorClear() {}
void TfrmMain::CanErrorInc(uint8_t) {}
void TfrmMain::CanErrorShow() {}
