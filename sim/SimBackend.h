// The `sim` link backend: the ten D2XX calls carried out by the process-wide emulated adapter.
#pragma once

#include "D2xxTypes.h"

// The table that forwards every call to TheSimAdapter(). Install it with InstallD2xxApi, or hand it to
// the link's --link=sim choice with ProvideEmulatorBackend (LinkBackend.h).
D2xxApi SimD2xxApi();
