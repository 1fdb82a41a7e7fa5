#include "ui/DividingLine.h"

#include "base/FileIO_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "ui/Twips.h"

#include <QMouseEvent>
#include <algorithm>
#include <cmath>

namespace ornbrook {

DividingLine::DividingLine(QWidget* parent) : QWidget(parent) {
    setObjectName("DividingLine");
    setCursor(Qt::SizeHorCursor);
    setAccessibleName("Divider between the URL list and the file list");
    setAutoFillBackground(true);
}

std::int32_t DividingLine::Inside(double position, double clientWidth) {
    const double lowest = MinListWidth;
    const double highest = clientWidth - Width - MinListWidth;
    if (highest < lowest)
        return static_cast<std::int32_t>(std::max(0.0, (clientWidth - Width) / 2));
    return static_cast<std::int32_t>(std::clamp(position, lowest, highest));
}

void DividingLine::Place(std::int32_t position, double clientWidth) {
    if (clientWidth <= 0) {
        position_ = position;
        share_ = -1;
        return;
    }
    position_ = Inside(position, clientWidth);
    share_ = position_ / clientWidth;
}

void DividingLine::Follow(double clientWidth) {
    if (clientWidth <= 0)
        return;
    if (share_ < 0)
        share_ = position_ / clientWidth;
    position_ = Inside(std::round(share_ * clientWidth), clientWidth);
}

std::string DividingLine::FileName() {
    return ProgramDir + "MainForm_DividingLine.pos";
}

std::string DividingLine::Text(std::int32_t position) {
    return (position >= 0 ? " " : "") + IntToText(position);
}

std::int32_t DividingLine::ReadStored() const {
    return TextToInt32(ReadFirstLine(FileName(), Text(position_)));
}

void DividingLine::Store() const {
    WriteText(FileName(), Text(position_));
}

void DividingLine::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (event->buttons() != Qt::LeftButton || !Dragged)
        return;
    // The bar's centre follows the mouse; x is relative to the bar's left edge.
    const double position = PixelsToTwipsX(event->position().x()) - Width / 2 + position_;
    if (const auto rounded = ToInt32(position))
        Dragged(*rounded);
}

} // namespace ornbrook
