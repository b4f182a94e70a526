// What the link tests share: a fixture that puts the link module's process-wide state back as it found it,
// and a sink that collects the error lines.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "ProcessState.h"
#include "D2XXUnit.h"
#include "SimAdapter.h"

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
// handle and the emulated adapter. This fixture starts each test from a known state and restores the
// table and flags afterwards.
class LinkStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProcessState();
        savedApi_ = FtApi;
        savedShow_ = ShowLinkErrors.load();
        savedSerial_ = LinkErrorSerial.load();
        savedHandle_ = LinkHandle.load();
        ShowLinkErrors = true;
        LinkErrorSerial = 0;
        LinkHandle = nullptr;
        TheSimAdapter().ResetForTest();
        lines_.Install();
    }
    void TearDown() override {
        SetLinkErrorSink(nullptr);
        TheSimAdapter().ResetForTest();
        InstallD2xxApi(savedApi_);
        ShowLinkErrors = savedShow_;
        LinkErrorSerial = savedSerial_;
        LinkHandle = savedHandle_;
    }
    std::vector<std::string> Lines() const { return lines_.Lines(); }

private:
    LineCollector lines_;
    D2xxApi savedApi_;
    bool savedShow_ = true;
    int32_t savedSerial_ = 0;
    FT_HANDLE savedHandle_ = nullptr;
};
