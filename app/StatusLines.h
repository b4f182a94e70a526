// A program's status lines on standard error: one line per event (adapter found or lost, a report of the
// adapter, a link error, a log's failure), in the order they were posted, each with the program's prefix.
//
// Standard error is somebody else's: a terminal, a pipe to a journal, or a pipe nobody reads any more.
// Whatever it is, writing to it never makes the program wait:
//   - a line is written only when the descriptor can take it at once (poll with no wait); otherwise it is
//     counted, and the count is said once the descriptor takes lines again;
//   - the same line posted again within a second is counted, not written, and said once a second as
//     "LINE (repeated N times)", so a flood of one report costs a line a second;
//   - lines posted on other threads go into a fixed ring; when it is full they are counted and the count
//     is written in their place.
//
// Thread contract: Post() from any thread; everything else on the thread that made the object, which must
// run an event loop (the main thread). Lines posted on other threads are written by that thread, which is
// posted one call whenever the ring turns non-empty. A line posted on the main thread writes what waits
// before it, then itself. Drain() writes whatever waits, on the main thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

class StatusLines final : public QObject {
public:
    static constexpr std::size_t Capacity = 64;
    static constexpr std::size_t MaxLine = 512;  // longer lines are cut
    static constexpr std::chrono::milliseconds RepeatInterval{1000};

    // `prefix`, e.g. "brisklet: ", goes before every line.
    StatusLines(int fd, std::string prefix = {});

    void Post(std::string_view line);
    void Drain();

private:
    struct Line {
        char text[MaxLine];
        std::size_t size;
    };
    using Clock = std::chrono::steady_clock;

    void PushLocked(std::string_view text);  // mutex held
    void FlushRepeatsLocked();                 // mutex held
    void EveryInterval();
    bool Write(const char *text, std::size_t size);

    const int fd_;
    const std::string prefix_;
    QTimer interval_;
    std::mutex mutex_;
    Line ring_[Capacity];
    std::size_t head_ = 0, count_ = 0;
    std::size_t dropped_ = 0;    // posted while the ring was full
    std::size_t unwritten_ = 0;  // not taken by the descriptor (main thread only)
    bool drainPosted_ = false;
    // The line said last, and how often it came again since.
    std::string last_;
    Clock::time_point lastSaid_{};
    std::size_t repeats_ = 0;
};
