#include "SerialTarget.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

namespace {

constexpr const char *FtdiVendorId = "0403";
constexpr const char *FtdiDriver = "ftdi_sio";

std::string ReadSmallFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char text[64];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    if (n <= 0) return {};
    std::string value(text, static_cast<std::size_t>(n));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

// The last path element a symlink points at ("../../bus/usb-serial/drivers/ftdi_sio" -> "ftdi_sio").
std::string LinkTargetName(const std::string &path) {
    char target[512];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string_view text(target, static_cast<std::size_t>(n));
    const auto slash = text.rfind('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};
constexpr BaudEntry BaudTable[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
    {38400, B38400},     {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
};

}  // namespace

bool BaudCode(uint32_t rate, speed_t &code) {
    for (const BaudEntry &entry : BaudTable) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

// ---- Options and discovery ------------------------------------------------------------------------

bool ParseSerialTarget(std::string_view text, SerialSettings &settings, std::string &why) {
    std::string_view path = text;
    uint32_t baud = DefaultSerialBaud;
    const auto at = text.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view digits = text.substr(at + 1);
        const bool allDigits = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                              [](char c) { return c >= '0' && c <= '9'; });
        if (allDigits) {
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), baud);
            speed_t code;
            if (ec != std::errc{} || end != digits.data() + digits.size() || !BaudCode(baud, code)) {
                why = "serial: " + std::string(digits) +
                      " is not a baud rate the tty offers (e.g. 9600, 115200, 921600, 3000000)";
                return false;
            }
            path = text.substr(0, at);
        }
    }
    settings.path = std::string(path);
    settings.baud = baud;
    return true;
}

std::string FindFtdiTty(const std::string &sysfsRoot, const std::string &devRoot) {
    const std::string classDir = sysfsRoot + "/class/tty";
    DIR *dir = ::opendir(classDir.c_str());
    if (dir == nullptr) return {};
    std::vector<std::pair<unsigned long, std::string>> found;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        constexpr std::string_view prefix = "ttyUSB";
        if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size()) continue;
        unsigned long number = 0;
        const auto digits = name.substr(prefix.size());
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (ec != std::errc{} || end != digits.data() + digits.size()) continue;
        // device is the usb-serial port; its parent the USB interface; that one's parent the USB device.
        const std::string device = classDir + "/" + std::string(name) + "/device";
        if (ReadSmallFile(device + "/../../idVendor") != FtdiVendorId) continue;
        if (LinkTargetName(device + "/driver") != FtdiDriver) continue;
        found.emplace_back(number, std::string(name));
    }
    ::closedir(dir);
    if (found.empty()) return {};
    std::sort(found.begin(), found.end());
    return devRoot + "/" + found.front().second;
}
