// Builds every control of the main window at its place.
#include "Main.h"

void TfrmMain::BuildControls() {}
