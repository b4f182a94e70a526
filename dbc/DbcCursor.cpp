#include "DbcCursor.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dbc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool IsNameChar(char c) { return IsDigit(c) || IsUpper(c) || (c >= 'a' && c <= 'z') || c == '_'; }

// Length of a well-formed UTF-8 sequence starting at s[i], or 0.
std::size_t Utf8Sequence(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    uint32_t min = 0;
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) n = 2, min = 0x80;
    else if ((b & 0xF0) == 0xE0) n = 3, min = 0x800;
    else if ((b & 0xF8) == 0xF0) n = 4, min = 0x10000;
    else return 0;
    if (s.size() - i < n) return 0;
    uint32_t cp = b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

std::string ToUtf8(std::string text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Sequence(text, i);
        if (n == 0) {  // not UTF-8: the whole text is Latin-1
            std::string out;
            out.reserve(text.size() * 2);
            for (const char c : text) {
                const auto b = static_cast<unsigned char>(c);
                if (b < 0x80) {
                    out += c;
                } else {
                    out += static_cast<char>(0xC0 | b >> 6);
                    out += static_cast<char>(0x80 | (b & 0x3F));
                }
            }
            return out;
        }
        i += n;
    }
    return text;
}

}  // namespace

bool IsKeyword(std::string_view word) {
    if (word == "VERSION" || word == "FILTER") return true;
    if (word.size() < 2 || !IsUpper(word.front()) || word.back() != '_') return false;
    for (const char c : word)
        if (!IsUpper(c) && !IsDigit(c) && c != '_') return false;
    return true;
}

void Cursor::SkipBlanks() {
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
}

void Cursor::SkipSpace() {
    while (at_ < text_.size() && (IsBlank(text_[at_]) || text_[at_] == '\n')) {
        if (text_[at_] == '\n') ++line_;
        ++at_;
    }
}

bool Cursor::AtLineEnd() {
    SkipBlanks();
    return AtEnd() || Peek() == '\n';
}

void Cursor::SkipLine() {
    while (at_ < text_.size() && text_[at_] != '\n') ++at_;
    if (at_ < text_.size()) {
        ++at_;
        ++line_;
    }
}

void Cursor::SkipStatement() {
    while (at_ < text_.size()) {
        const char c = text_[at_];
        if (c == '"') {
            String("");
        } else if (c == ';') {
            ++at_;
            return;
        } else if (c == '\n') {
            ++at_;
            ++line_;
            std::size_t p = at_;
            while (p < text_.size() && IsBlank(text_[p])) ++p;
            const std::size_t start = p;
            while (p < text_.size() && IsNameChar(text_[p])) ++p;
            if (IsKeyword(text_.substr(start, p - start))) return;
        } else {
            ++at_;
        }
    }
}

bool Cursor::Accept(char c) {
    Skip();
    if (Peek() != c || AtEnd()) return false;
    ++at_;
    return true;
}

void Cursor::Expect(char c, const char *what) {
    if (!Accept(c)) Fail(std::string("expected ") + what);
}

bool Cursor::NextIsName() {
    Skip();
    return !AtEnd() && IsNameChar(Peek());
}

bool Cursor::NextIsNumber() {
    Skip();
    std::size_t p = at_;
    if (p < text_.size() && (text_[p] == '-' || text_[p] == '+')) ++p;
    if (p < text_.size() && text_[p] == '.') ++p;
    return p < text_.size() && IsDigit(text_[p]);
}

std::string_view Cursor::Name(const char *what) {
    Skip();
    const std::size_t start = at_;
    while (at_ < text_.size() && IsNameChar(text_[at_])) ++at_;
    if (at_ == start) Fail(std::string("expected ") + what);
    return text_.substr(start, at_ - start);
}

uint64_t Cursor::Unsigned(const char *what) {
    Skip();
    const std::size_t start = at_;
    while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
    if (at_ == start) Fail(std::string("expected ") + what);
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + at_, value);
    if (ec != std::errc{}) FailText(std::string(what) + " " + std::string(text_.substr(start, at_ - start)) +
                                    " is too large");
    return value;
}

std::string_view Cursor::NumberText(const char *what) {
    Skip();
    const std::size_t start = at_;
    auto digits = [&] {
        const std::size_t from = at_;
        while (at_ < text_.size() && IsDigit(text_[at_])) ++at_;
        return at_ - from;
    };
    if (at_ < text_.size() && (text_[at_] == '-' || text_[at_] == '+')) ++at_;
    std::size_t mantissa = digits();
    if (at_ < text_.size() && text_[at_] == '.') {
        ++at_;
        mantissa += digits();
    }
    if (mantissa == 0) FailAt(start, std::string("expected ") + what);
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
        const std::size_t e = at_++;
        if (at_ < text_.size() && (text_[at_] == '-' || text_[at_] == '+')) ++at_;
        if (digits() == 0) at_ = e;  // "1e" is the number 1 followed by a name
    }
    return text_.substr(start, at_ - start);
}

Number Cursor::Real(const char *what) {
    std::string_view t = NumberText(what);
    const std::string_view written = t;
    if (t.front() == '+') t.remove_prefix(1);
    Number n;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n.value);
    if (ec != std::errc{} || end != t.data() + t.size() || !std::isfinite(n.value))
        FailText(std::string(what) + " " + std::string(written) + " is out of range");
    // Digits after the point, less trailing zeros, less the exponent.
    const std::size_t e = t.find_first_of("eE");
    const std::string_view mantissa = t.substr(0, e);
    long decimals = 0;
    if (const std::size_t point = mantissa.find('.'); point != std::string_view::npos) {
        std::string_view fraction = mantissa.substr(point + 1);
        while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
        decimals = static_cast<long>(fraction.size());
    }
    if (e != std::string_view::npos) {
        long exponent = 0;
        std::string_view x = t.substr(e + 1);
        if (!x.empty() && x.front() == '+') x.remove_prefix(1);
        std::from_chars(x.data(), x.data() + x.size(), exponent);  // a huge one made value non-finite
        decimals -= exponent;
    }
    n.decimals = decimals < 0 ? 0 : decimals > 1000 ? 1000 : static_cast<int>(decimals);
    return n;
}

bool Cursor::TableKey(int64_t &key) {
    std::string_view t = NumberText("a raw value");
    if (t.front() == '+') t.remove_prefix(1);
    const char *first = t.data(), *last = t.data() + t.size();
    if (auto [end, ec] = std::from_chars(first, last, key); ec == std::errc{} && end == last) return true;
    if (uint64_t u = 0; t.front() != '-') {
        if (auto [end, ec] = std::from_chars(first, last, u); ec == std::errc{} && end == last) {
            key = static_cast<int64_t>(u);
            return true;
        }
    }
    double d = 0;
    const auto [end, ec] = std::from_chars(first, last, d);
    if (ec != std::errc{} || end != last || d != std::trunc(d) || std::fabs(d) >= 9.2e18) return false;
    key = static_cast<int64_t>(d);
    return true;
}

std::string Cursor::String(const char *what) {
    Skip();
    if (Peek() != '"' || AtEnd()) Fail(std::string("expected ") + what);
    const int opened = line_;
    std::string out;
    for (++at_;; ++at_) {
        if (at_ >= text_.size())
            throw ParseError{opened, "the string opened on this line is never closed (expected '\"')"};
        const char c = text_[at_];
        if (c == '"') break;
        if (c == '\\' && at_ + 1 < text_.size() && (text_[at_ + 1] == '"' || text_[at_ + 1] == '\\')) {
            out += text_[++at_];
        } else if (c == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n') {
            // CRLF kept as LF: the newline itself comes next
        } else {
            if (c == '\n') ++line_;
            out += c;
        }
    }
    ++at_;
    return ToUtf8(std::move(out));
}

void Cursor::FailAt(std::size_t at, const std::string &expected) const {
    std::string found;
    if (at >= text_.size()) {
        found = "the end of the file";
    } else if (text_[at] == '\n' || (text_[at] == '\r' && (at + 1 == text_.size() || text_[at + 1] == '\n'))) {
        found = "the end of the line";
    } else if (text_[at] > ' ' && text_[at] <= '~') {
        std::size_t end = at;
        while (end < text_.size() && end - at < 24 && text_[end] > ' ' && text_[end] <= '~') ++end;
        found = "'" + std::string(text_.substr(at, end - at)) + "'";
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "byte 0x%02X", static_cast<unsigned char>(text_[at]));
        found = hex;
    }
    throw ParseError{line_, expected + ", found " + found};
}

}  // namespace dbc
