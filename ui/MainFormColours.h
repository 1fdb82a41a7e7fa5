#pragma once

#include <QColor>

namespace ornbrook {

// Colours of the main window's lists and display rules.
inline QColor ListBackground() {
    return {128, 128, 128};
}
inline QColor GreyText() {
    return {80, 80, 80};
}
inline QColor RedText() {
    return {255, 0, 0};
}
inline QColor BlackText() {
    return {0, 0, 0};
}

} // namespace ornbrook
