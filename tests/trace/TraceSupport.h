// Shared by the trace tests: a fixed time zone and date, scratch files, and the frames every test logs.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
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

// 2024-12-08: 00:00 UTC is 1733616000.
inline std::chrono::year_month_day December8() {
    using namespace std::chrono;
    return 2024y / December / 8d;
}
constexpr int64_t December8Utc = 1733616000;

inline candump::Timestamp FixedClock() { return {1733655296, 123000}; }

inline TraceLogOptions TestOptions() {
    TraceLogOptions options;
    options.today = December8;
    options.clock = FixedClock;
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
