#pragma once

#include "diag/Debug_Modul.h"

#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

namespace ornbrook {

// The bar between the main window's two lists. Its left edge is the divider
// position, in twips, kept exactly rather than read back from pixels. Dragged
// with the left button alone, the bar's centre follows the mouse: Dragged asks
// the window for the new position, which the window keeps where both lists stay
// usable. When the window changes size, the bar keeps its share of the width.
// The position outlives the program in MainForm_DividingLine.pos, in twips.
class DividingLine final : public QWidget {
public:
    static constexpr std::int32_t DesignLeft = 2760;
    static constexpr double Width = 75;
    // The narrowest a list may become, in twips.
    static constexpr std::int32_t MinListWidth = 1200;

    explicit DividingLine(QWidget* parent);

    std::int32_t Position() const { return position_; }
    // Puts the bar at position (brought Inside) in a client area of that width
    // (twips), and keeps where it stands as a share of the width.
    void Place(std::int32_t position, double clientWidth);
    // The client area changed its width: the bar keeps its share, so a window
    // grown back after being shrunk gives each list its part again.
    void Follow(double clientWidth);
    // Where a bar asked to stand at position may stand in a client area of
    // that width (twips): both lists keep MinListWidth, or share a window too
    // narrow for that.
    static std::int32_t Inside(double position, double clientWidth);

    std::function<void(std::int32_t position)> Dragged;

    static std::string FileName();
    // The file's text of a position: one leading blank unless negative.
    static std::string Text(std::int32_t position);
    // The stored position; a missing file is written with the current one.
    std::int32_t ReadStored() const;
    void Store() const;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    LiveObject live_{"DividingLine"};
    std::int32_t position_ = DesignLeft;
    // position_ as a share of the client width; negative while no width is known.
    double share_ = -1;
};

} // namespace ornbrook
