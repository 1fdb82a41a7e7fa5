#include "ui/Twips.h"

#include "base/NumberText.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace ornbrook {

namespace {

double LogicalDpiX() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchX() : 96.0;
}

double LogicalDpiY() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

} // namespace

double TwipsPerPixelX() {
    return TwipsPerInch / LogicalDpiX();
}

double TwipsPerPixelY() {
    return TwipsPerInch / LogicalDpiY();
}

double PixelsToTwipsX(double pixels) {
    return pixels * TwipsPerPixelX();
}

double PixelsToTwipsY(double pixels) {
    return pixels * TwipsPerPixelY();
}

double TwipsToPixelsX(double twips) {
    return RoundHalfEven(twips / TwipsPerPixelX());
}

double TwipsToPixelsY(double twips) {
    return RoundHalfEven(twips / TwipsPerPixelY());
}

std::optional<int> WidgetSize(double pixels) {
    if (!(pixels >= 0 && pixels <= QWIDGETSIZE_MAX))
        return std::nullopt;
    return static_cast<int>(pixels);
}

int WidgetCoordinate(double pixels) {
    constexpr double limit = QWIDGETSIZE_MAX;
    if (std::isnan(pixels))
        return 0;
    return static_cast<int>(std::clamp(pixels, -limit, limit));
}

QRect TwipsRect(double left, double top, double width, double height) {
    return {WidgetCoordinate(TwipsToPixelsX(left)), WidgetCoordinate(TwipsToPixelsY(top)),
            WidgetSize(TwipsToPixelsX(width)).value_or(0),
            WidgetSize(TwipsToPixelsY(height)).value_or(0)};
}

} // namespace ornbrook
