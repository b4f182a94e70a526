// Shared by the trace tests: a fixed time zone and date, scratch files, and the frames every test logs.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "TraceLog.h"

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *zone) {
        if (const char *old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

// The PC's clock and the adapter's clock state as the trace log sees them; tests set them before a pump.
// By default 2024-12-08 12:34:57.000 UTC, with the adapter's clock set.
constexpr int64_t DefaultTestNowUs = int64_t{1733661297} * 1000000;
inline int64_t TestNowUs = DefaultTestNowUs;
inline std::atomic<bool> TestClockSet{true};
inline candump::Timestamp TestClock() {
    return {TestNowUs / 1000000, static_cast<int32_t>(TestNowUs % 1000000)};
}

inline TraceLogOptions TestOptions() {
    TestNowUs = DefaultTestNowUs;
    TestClockSet.store(true);
    TraceLogOptions options;
    options.clock = TestClock;
    options.adapterClockSet = &TestClockSet;
    return options;
}

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// One frame as the decoder hands it, plus the remote bit.
struct TestFrame {
    int hour, minute, second, millisecond;
    uint32_t identifier;
    uint8_t info;
    bool remote;
    uint8_t data[8];
};
