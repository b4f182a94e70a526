// Adapter control: initialize, pause, disable, clear.
#include "Main.h"

void TfrmMain::InitCanClick() {}
void TfrmMain::btnPauseClick() {}
void TfrmMain::DisableCanClick() {}
void TfrmMain::btnClearClick() {}
bool TfrmMain::CreateMessage(int, int, const uint8_t (&)[256]) { return false; }
void TfrmMain::CodeID(uint32_t, bool, int &ID1, int &ID2, int &ID3, int &ID4) { ID1 = ID2 = ID3 = ID4 = 0; }
void TfrmMain::GetCANBTx(uint8_t &T1, uint8_t &T2, uint8_t &T3, uint8_t &Mode) { T1 = T2 = T3 = Mode = 0; }
uint8_t TfrmMain::DriverSpeed() { return 0; }
