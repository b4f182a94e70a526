#include "Frame.h"

const std::array<const char *, 11> StatusTexts{
    "Adaptor Ready", "CAN Initialization", "MC Initialization", "OUT Initialization", "Time Initialization",
    "Res",           "CAN Disable",        "MC Disable",        "OUT Disable",        "Res",
    "Pause",
};
