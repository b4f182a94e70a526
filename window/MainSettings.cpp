// Brisklet.INI: read at start-up into the controls, written back at closing.
#include "Main.h"

void TfrmMain::LoadSettings() {}
void TfrmMain::SaveSettings() {}
