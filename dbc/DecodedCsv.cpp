#include "DecodedCsv.h"

#include <charconv>
#include <cmath>

namespace dbc {

namespace {

// Significant digits a double carries for certain: more than this in fixed point would print rounding noise.
constexpr int DoubleDigits = 17;

void AppendField(std::string &out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::size_t Written(const char *begin, std::to_chars_result r) {
    return r.ec == std::errc{} ? static_cast<std::size_t>(r.ptr - begin) : 0;
}

}  // namespace

std::size_t FormatValue(std::span<char> out, const SignalValue &v) {
    if (out.size() < MaxValueLength || !v.signal) return 0;
    char *const begin = out.data();
    char *const end = begin + MaxValueLength;
    const Signal &s = *v.signal;
    if (s.type == ValueType::Integer && s.factor == 1 && s.offset == 0) {
        if (s.isSigned) return Written(begin, std::to_chars(begin, end, static_cast<int64_t>(v.raw)));
        return Written(begin, std::to_chars(begin, end, v.raw));
    }
    const double magnitude = std::fabs(v.value);
    if (s.type != ValueType::Integer || s.decimals < 0 || !std::isfinite(magnitude) ||
        (magnitude < 1 ? 1 : std::floor(std::log10(magnitude)) + 1) + s.decimals > DoubleDigits)
        return Written(begin, std::to_chars(begin, end, v.value));
    std::size_t n = Written(begin, std::to_chars(begin, end, v.value, std::chars_format::fixed, s.decimals));
    if (s.decimals > 0) {
        while (n > 0 && begin[n - 1] == '0') --n;
        if (n > 0 && begin[n - 1] == '.') --n;
    }
    if (n == 2 && begin[0] == '-' && begin[1] == '0') {  // -0.001 to no decimals
        begin[0] = '0';
        n = 1;
    }
    return n;
}

void AppendCsvLine(std::string &out, candump::Timestamp time, const Message &message, const SignalValue &value) {
    char field[candump::MaxTimeLength > MaxValueLength ? candump::MaxTimeLength : MaxValueLength];
    out.append(field, candump::FormatTime(field, time));
    out += ',';
    out.append(field, candump::FormatIdentifier(field, message.id, message.extended));
    out += ',';
    AppendField(out, message.name);
    out += ',';
    AppendField(out, value.signal ? std::string_view(value.signal->name) : std::string_view());
    out += ',';
    out.append(field, FormatValue(field, value));
    out += ',';
    AppendField(out, value.signal ? std::string_view(value.signal->unit) : std::string_view());
    out += ',';
    AppendField(out, value.label);
    out += '\n';
}

}  // namespace dbc
