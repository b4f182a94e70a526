#include "PtyBridge.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int PollSliceMs = 100;  // how often a quiet direction looks at the stop flag
constexpr ULONG ChipReadMs = 50;

}  // namespace

bool PtyBridge::Start() {
    if (chip_.Open(0, &handle_) != FT_OK) return false;
    chip_.SetTimeouts(handle_, ChipReadMs, ChipReadMs);
    stop_.store(false);
    fromHost_ = std::thread(&PtyBridge::HostToFirmware, this);
    toHost_ = std::thread(&PtyBridge::FirmwareToHost, this);
    return true;
}

void PtyBridge::Stop() {
    stop_.store(true);
    if (fromHost_.joinable()) fromHost_.join();
    if (toHost_.joinable()) toHost_.join();
    if (handle_ != nullptr) chip_.Close(handle_);
    handle_ = nullptr;
}

void PtyBridge::HostToFirmware() {
    while (!stop_.load()) {
        pollfd wait{master_, POLLIN, 0};
        if (::poll(&wait, 1, PollSliceMs) <= 0) continue;
        const ssize_t n = ::read(master_, inChunk_, sizeof inChunk_);
        if (n > 0) {
            DWORD written = 0;
            chip_.Write(handle_, inChunk_, static_cast<DWORD>(n), &written);
            continue;
        }
        // EIO: nobody has the terminal open (Brisklet not started yet, or closed it). Wait for the host.
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        std::this_thread::sleep_for(IdleNap);
    }
}

void PtyBridge::FirmwareToHost() {
    while (!stop_.load()) {
        DWORD count = 0;
        if (chip_.Read(handle_, outChunk_, sizeof outChunk_, &count) != FT_OK) {
            std::this_thread::sleep_for(IdleNap);
            continue;
        }
        if (count > 0) WriteToHost(outChunk_, count);
    }
}

void PtyBridge::WriteToHost(const uint8_t *data, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + WriteBudget;
    std::size_t done = 0;
    while (done < count && !stop_.load()) {
        pollfd wait{master_, POLLOUT, 0};
        ::poll(&wait, 1, PollSliceMs);
        // No host: what the adapter sends now is lost, as it is on a cable nobody listens to.
        if ((wait.revents & POLLHUP) != 0) return;
        if ((wait.revents & POLLOUT) != 0) {
            const ssize_t n = ::write(master_, data + done, count - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
    }
}
