#include "base/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace ornbrook {

std::string NumberToText(double value) {
    if (value == 0)
        return "0";
    char buffer[64];
    // std::to_chars ignores the locale; general format with precision 15 is %.15G.
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, result.ptr);
    for (char& c : text) {
        if (c == 'e')
            c = 'E';
    }
    if (text.starts_with("0."))
        text.erase(0, 1);
    else if (text.starts_with("-0."))
        text.erase(1, 1);
    return text;
}

double TextToNumber(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    const std::size_t start = i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    const auto isDigit = [&](std::size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
    std::size_t digits = 0;
    while (isDigit(i)) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (isDigit(i)) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    std::size_t end = i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t k = i + 1;
        if (k < n && (text[k] == '+' || text[k] == '-'))
            ++k;
        if (isDigit(k)) {
            while (isDigit(k))
                ++k;
            end = k;
        }
    }
    std::string number = text.substr(start, end - start);
    if (number.front() == '+')
        number.erase(0, 1);
    double value = 0;
    // from_chars does not take a leading "+" and never looks at the locale.
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const bool negative = number.front() == '-';
        const auto e = number.find_first_of("eE");
        const bool tiny = e != std::string::npos && number.find('-', e) != std::string::npos;
        if (tiny)
            return 0;
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    return value;
}

double RoundHalfEven(double value) {
    return std::nearbyint(value);
}

namespace {
template <typename Int> std::optional<Int> ToInt(double value) {
    const double rounded = RoundHalfEven(value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<Int>::max())))
        return std::nullopt;
    return static_cast<Int>(rounded);
}
} // namespace

std::optional<std::int32_t> ToInt32(double value) {
    return ToInt<std::int32_t>(value);
}

std::optional<std::int16_t> ToInt16(double value) {
    return ToInt<std::int16_t>(value);
}

std::int32_t TextToInt32(const std::string& text) {
    return ToInt32(TextToNumber(text)).value_or(0);
}

std::string IntToText(std::int64_t value) {
    return std::to_string(value);
}

} // namespace ornbrook
