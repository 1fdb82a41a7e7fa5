#pragma once

#include <QColor>

namespace ornbrook {

// Colours of the main window's lists and display rules. Text that carries a
// state keeps 4.5:1 contrast (WCAG AA) against what it is drawn on: plain rows
// are black on the grey list (5.3:1); rows shown grey or red stand on a white
// band (grey 8.1:1, red 6.5:1), and the selection is light enough for all three.
// The design's red (255, 0, 0) reaches 4:1 on white and 1:1 on the grey list,
// so the red is darker.
inline QColor ListBackground() {
    return {128, 128, 128};
}
inline QColor GreyText() {
    return {80, 80, 80};
}
inline QColor RedText() {
    return {192, 0, 0};
}
inline QColor BlackText() {
    return {0, 0, 0};
}
// Behind the rows whose text is grey or red.
inline QColor StateBand() {
    return {255, 255, 255};
}

} // namespace ornbrook
