// The gateway's status lines: one line per event (adapter found or lost, a report of the adapter, a link
// error, a trace log failure), written to a descriptor (standard error) by the main thread only, in the
// order the events were posted.
//
// Thread contract: Post() from any thread. Lines posted on other threads go into a fixed ring and the
// main thread is posted one call to write them whenever the ring turns non-empty, so the receive thread
// never waits on a slow reader of standard error. A line posted on the main thread writes what waits
// before it, then itself. Should the main thread fall so far behind that the ring fills, further lines
// are counted and the count is written in their place. Drain() writes whatever waits, on the main thread.
#pragma once

#include <QObject>
#include <cstddef>
#include <mutex>
#include <string_view>

class StatusLines final : public QObject {
public:
    static constexpr std::size_t Capacity = 64;
    static constexpr std::size_t MaxLine = 160;  // longer lines are cut

    explicit StatusLines(int fd) : fd_(fd) {}

    void Post(std::string_view line);
    void Drain();

private:
    struct Line {
        char text[MaxLine];
        std::size_t size;
    };
    void Write(const char *text, std::size_t size);

    const int fd_;
    std::mutex mutex_;
    Line ring_[Capacity];
    std::size_t head_ = 0, count_ = 0;
    std::size_t dropped_ = 0;
    bool drainPosted_ = false;
};
