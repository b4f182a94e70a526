// What every window test on the emulated adapter begins and ends with.
#pragma once

#include <QTemporaryDir>
#include <memory>

#include "D2XXUnit.h"
#include "Main.h"
#include "ProcessState.h"
#include "SimAdapter.h"
#include "SimBackend.h"

// A fresh process's state with the emulated adapter, unplugged and without firmware, as the link.
inline void StartOnEmulator() {
    ResetProcessState();
    InstallD2xxApi(SimD2xxApi());
    TheSimAdapter().ResetForTest();
}

// Back to a fresh process's state; the window must be gone already.
inline void EndOnEmulator() {
    TheSimAdapter().SetFirmware(nullptr);
    TheSimAdapter().ResetForTest();
    ResetProcessState();
}

// The window as a user opens it, with its settings kept in `dir`; shown (wait for it to be exposed).
inline std::unique_ptr<TfrmMain> ShowWindow(const QTemporaryDir &dir, WindowOptions options = {}) {
    options.SettingsDir = dir.path() + "/";
    auto window = std::make_unique<TfrmMain>(options);
    window->show();
    return window;
}
