// Transmission from slot 0 and slot stops.
#include "Main.h"

void TfrmMain::btnSend0Click() {}
void TfrmMain::SendCanData(int) {}
void TfrmMain::TransmitCanData(int, int32_t, uint8_t, bool, uint32_t, int, const uint8_t (&)[8]) {}
void TfrmMain::StopCanData(uint8_t) {}
void TfrmMain::DisableTransmit() {}
void TfrmMain::btnStop0Click() {}
