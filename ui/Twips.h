#pragma once

#include <QRect>
#include <optional>

namespace ornbrook {

// Stored coordinates are in twips, 1440 to the inch; widgets are placed in
// pixels. The conversion uses the primary screen's logical dots per inch.
constexpr double TwipsPerInch = 1440.0;

double TwipsPerPixelX();
double TwipsPerPixelY();

double PixelsToTwipsX(double pixels);
double PixelsToTwipsY(double pixels);
// Nearest whole pixel, halves to the even neighbour.
double TwipsToPixelsX(double twips);
double TwipsToPixelsY(double twips);

// A pixel width or height a widget can take; none when it is negative or
// beyond the toolkit's largest size (the platform refuses such a size).
std::optional<int> WidgetSize(double pixels);
// A pixel position, held within the toolkit's range.
int WidgetCoordinate(double pixels);

// A control's design placement (left, top, width, height in twips) in pixels.
QRect TwipsRect(double left, double top, double width, double height);

} // namespace ornbrook
