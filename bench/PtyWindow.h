// The main window on the serial link, with a pseudo-terminal whose far end the bench writes to as the
// adapter would.
#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>

#include "Main.h"

class PtyWindow {
public:
    PtyWindow();
    ~PtyWindow();
    PtyWindow(const PtyWindow &) = delete;
    PtyWindow &operator=(const PtyWindow &) = delete;

    bool Ok() const { return master_ >= 0 && window_ != nullptr; }
    // Waits for the presence watch to open the terminal.
    bool Find(int ms = 2000);
    TfrmMain &window() { return *window_; }
    // The adapter's end, non-blocking.
    int Master() const { return master_; }
    // The adapter goes away: its end of the terminal is closed.
    void HangUp();
    // Closes the window (settings written, link closed, receive thread stopped).
    void Close();

private:
    QTemporaryDir dir_;
    int master_ = -1;
    std::string slave_;
    std::unique_ptr<TfrmMain> window_;
};
