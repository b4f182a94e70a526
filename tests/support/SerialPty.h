// A pseudo-terminal pair made by a test: the test plays the adapter on the master side, the serial
// backend opens the slave side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class TestPty {
public:
    TestPty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128];
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, name, sizeof name) == 0)
            slave_ = name;
    }
    ~TestPty() { HangUp(); }
    TestPty(const TestPty &) = delete;
    TestPty &operator=(const TestPty &) = delete;

    bool Ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string &Slave() const { return slave_; }
    int Master() const { return master_; }
    void HangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // Writes everything, waiting for room as long as `ms` allows; returns how much went.
    std::size_t Send(const std::vector<uint8_t> &bytes, int ms = 2000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::size_t done = 0;
        while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 20);
        }
        return done;
    }
    // Reads until `count` bytes have come or `ms` have passed.
    std::vector<uint8_t> Receive(std::size_t count, int ms = 2000) {
        std::vector<uint8_t> got(count);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::size_t done = 0;
        while (done < count && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::read(master_, got.data() + done, count - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
        got.resize(done);
        return got;
    }

private:
    int master_ = -1;
    std::string slave_;
};
