#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ornbrook {

struct Point2D {
    double X = 0;
    double Y = 0;
};

struct Rect2D {
    Point2D Position;
    double Width = 0;
    double Height = 0;
};

Point2D MakePoint(double x, double y);
Rect2D MakeRect(Point2D position, double width, double height);

// "X|Y" in the number text of NumberToText.
std::string PointToText(Point2D p);
// (0, 0) when the text holds no "|".
Point2D TextToPoint(const std::string& text);
// "X|Y_W|H".
std::string RectToText(const Rect2D& r);
// All zeros when the text holds no "_".
Rect2D TextToRect(const std::string& text);

// The largest integer not above x (-1.5 gives -2).
double IntPart(double x);

// Value as count bytes, least significant first. A count of 0 or less is
// replaced by the number of bytes the value needs (1 for 0), written back.
std::string EncodeNumber(std::uint32_t value, int& count);
// Value as exactly width bytes, least significant first.
std::string EncodeFixed(std::uint32_t value, int width);

// Sum of byte(i) * 256^i, first byte least significant; "" gives 0. At most the
// first four bytes count, so the result always fits.
std::uint32_t DecodeNumber(std::string_view bytes);

} // namespace ornbrook
