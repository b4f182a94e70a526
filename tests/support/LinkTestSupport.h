// What the link tests share: a fixture that starts each test from the link's fresh-process state and
// leaves it so, a sink that collects the error lines, and the emulated adapter plugged in and opened.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "D2XXUnit.h"
#include "LinkState.h"
#include "PresenceWatch.h"
#include "SimAdapter.h"
#include "SimBackend.h"

// Collects the lines ReportLinkError hands out (it may be called from any thread).
class LineCollector {
public:
    void Install() {
        SetLinkErrorSink([this](const std::string &line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Every link test changes process-wide state: the D2XX table, the flags, the error number, the open
// handle and the emulated adapter. This fixture starts each test from a fresh process's state and
// leaves that state behind.
class LinkStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLinkState();
        TheSimAdapter().ResetForTest();
        lines_.Install();
    }
    void TearDown() override {
        TheSimAdapter().ResetForTest();
        ResetLinkState();
    }
    std::vector<std::string> Lines() const { return lines_.Lines(); }

private:
    LineCollector lines_;
};

// The emulated adapter plugged in and opened through the link, as the presence watch leaves it, for as
// long as this lives; then closed, and the link's state as a fresh process has it.
class EmulatedLinkOpen {
public:
    EmulatedLinkOpen() {
        ResetLinkState();
        InstallD2xxApi(SimD2xxApi());
        TheSimAdapter().ResetForTest();
        TheSimAdapter().Plug();
        opened_ = OpenFTDevice() == FT_OK && SetFTTimeouts(LinkTimeoutMs, LinkTimeoutMs) == FT_OK;
        DevicePresent.store(opened_);
    }
    ~EmulatedLinkOpen() {
        CloseFTDevice();
        TheSimAdapter().ResetForTest();
        ResetLinkState();
    }
    EmulatedLinkOpen(const EmulatedLinkOpen &) = delete;
    EmulatedLinkOpen &operator=(const EmulatedLinkOpen &) = delete;
    bool Opened() const { return opened_; }

private:
    bool opened_ = false;
};
