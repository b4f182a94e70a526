#include "SimBackend.h"

#include "D2xxDevice.h"
#include "SimAdapter.h"

D2xxApi SimD2xxApi() { return D2xxTableFor<SimAdapter, &TheSimAdapter>(); }
