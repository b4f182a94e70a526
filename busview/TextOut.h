// Appends text to a caller's fixed buffer and keeps it NUL-terminated; what does not fit is cut off, never
// written past the end. The formatters of this folder share it.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

namespace busview {

class TextOut {
public:
    explicit TextOut(std::span<char> out) : out_(out) {
        if (!out_.empty()) out_[0] = '\0';
    }

    void Text(std::string_view s) {
        for (char c : s) Char(c);
    }
    void Char(char c) {
        if (size_ + 1 >= out_.size()) return;  // room for the NUL
        out_[size_++] = c;
        out_[size_] = '\0';
    }
    [[gnu::format(printf, 2, 3)]] void Printf(const char *format, ...) {
        if (size_ + 1 >= out_.size()) return;
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(out_.data() + size_, out_.size() - size_, format, args);
        va_end(args);
        if (n > 0) size_ = std::min(size_ + static_cast<std::size_t>(n), out_.size() - 1);
    }
    std::size_t Size() const { return size_; }
    std::string_view View() const { return {out_.data(), size_}; }

private:
    std::span<char> out_;
    std::size_t size_ = 0;
};

}  // namespace busview
