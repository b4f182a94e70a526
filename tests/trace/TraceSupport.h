// Shared by the trace tests: a fixed time zone and date, scratch files, and the frames every test logs.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <initializer_list>
#include <span>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "TestFrames.h"
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

// The PC's clock at arrival, unless a test says otherwise: 2024-12-08 12:34:57.000 UTC.
constexpr int64_t DefaultTestNowUs = int64_t{1733661297} * 1000000;

inline TraceLogOptions TestOptions() { return {}; }

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

// The event a read of it would bring, arriving at `arrivalUs`, the adapter's clock set or not.
inline BusEvent EventOf(const TestFrame &f, int64_t arrivalUs = DefaultTestNowUs, bool clockSet = true) {
    BusEvent e = FrameEvent(f.identifier, f.info, f.remote, {f.data, f.data + 8});
    e.adapterMs = ((f.hour * 60 + f.minute) * 60 + f.second) * 1000 + f.millisecond;
    e.arrivalUs = arrivalUs;
    e.adapterClockSet = clockSet;
    return e;
}

inline BusEvent ErrorEvent(uint8_t flags, int64_t arrivalUs = DefaultTestNowUs) {
    BusEvent e = BusErrorEvent(flags);
    e.arrivalUs = arrivalUs;
    return e;
}

inline BusEvent ReportEvent(uint8_t type) {
    BusEvent e;
    e.kind = BusEvent::Kind::CommandReport;
    e.reportType = type;
    return e;
}

// One read's events into the log.
inline void LogRead(TraceLog &log, std::initializer_list<BusEvent> events) {
    log.Log(std::span<const BusEvent>(events.begin(), events.size()));
}
