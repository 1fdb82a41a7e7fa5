#include "base/Mathe_Code.h"

#include "base/NumberText.h"

#include <cmath>

namespace ornbrook {

Point2D MakePoint(double x, double y) {
    return Point2D{x, y};
}

Rect2D MakeRect(Point2D position, double width, double height) {
    return Rect2D{position, width, height};
}

std::string PointToText(Point2D p) {
    return NumberToText(p.X) + "|" + NumberToText(p.Y);
}

Point2D TextToPoint(const std::string& text) {
    const auto p = text.find('|');
    if (p == std::string::npos)
        return {};
    return {TextToNumber(text.substr(0, p)), TextToNumber(text.substr(p + 1))};
}

std::string RectToText(const Rect2D& r) {
    return PointToText(r.Position) + "_" + NumberToText(r.Width) + "|" + NumberToText(r.Height);
}

Rect2D TextToRect(const std::string& text) {
    const auto p = text.find('_');
    if (p == std::string::npos)
        return {};
    const Point2D size = TextToPoint(text.substr(p + 1));
    return {TextToPoint(text.substr(0, p)), size.X, size.Y};
}

double IntPart(double x) {
    return std::floor(x);
}

std::string EncodeNumber(std::uint32_t value, int& count) {
    if (count <= 0) {
        count = 1;
        for (std::uint32_t rest = value >> 8; rest != 0; rest >>= 8)
            ++count;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(count));
    std::uint64_t rest = value;
    for (int i = 0; i < count; ++i) {
        bytes += static_cast<char>(rest & 0xFF);
        rest >>= 8;
    }
    return bytes;
}

std::string EncodeFixed(std::uint32_t value, int width) {
    return EncodeNumber(value, width);
}

std::uint32_t DecodeNumber(std::string_view bytes) {
    std::uint32_t result = 0;
    const std::size_t n = bytes.size() < 4 ? bytes.size() : 4;
    for (std::size_t i = 0; i < n; ++i)
        result |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return result;
}

} // namespace ornbrook
