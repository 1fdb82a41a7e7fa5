#include "ui/PositionSaver.h"

#include "base/FileIO_Code.h"
#include "base/Mathe_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "ui/Twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace ornbrook {

namespace {

// The screen that the fractions refer to, in twips.
struct ScreenTwips {
    double Width;
    double Height;
};

ScreenTwips PrimaryScreenTwips() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect r = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    return {PixelsToTwipsX(r.width()), PixelsToTwipsY(r.height())};
}

Qt::WindowStates StateFromDigit(std::int16_t digit) {
    switch (digit) {
    case 1:
        return Qt::WindowMinimized;
    case 2:
        return Qt::WindowMaximized;
    default:
        return Qt::WindowNoState;
    }
}

char DigitOfState(const QWidget& form) {
    if (form.isMinimized())
        return '1';
    if (form.isMaximized())
        return '2';
    return '0';
}

} // namespace

std::string PositionSaver::FileName() const {
    return ProgramDir + FormName + ".pos";
}

void PositionSaver::LoadPosition() {
    std::string line = ReadFirstLine(FileName(), "");
    if (line.size() < 2 || !Form)
        return;
    Form->setVisible(TextToNumber(line.substr(0, 1)) != 0);
    const std::int16_t state = ToInt16(TextToNumber(line.substr(1, 1))).value_or(0);
    Form->setWindowState(Qt::WindowNoState);
    const Rect2D r = TextToRect(line.substr(2));
    const ScreenTwips screen = PrimaryScreenTwips();
    // Normal bounds without the window frame, as SavePosition reads them. A size
    // the platform cannot take (negative, huge) is skipped, not fatal.
    QRect bounds = Form->geometry();
    bounds.moveTo(WidgetCoordinate(TwipsToPixelsX(screen.Width * r.Position.X)),
                  WidgetCoordinate(TwipsToPixelsY(screen.Height * r.Position.Y)));
    if (const auto width = WidgetSize(TwipsToPixelsX(screen.Width * r.Width)))
        bounds.setWidth(*width);
    if (const auto height = WidgetSize(TwipsToPixelsY(screen.Height * r.Height)))
        bounds.setHeight(*height);
    Form->setGeometry(bounds);
    Form->setWindowState(StateFromDigit(state));
}

void PositionSaver::SavePosition() {
    if (!Form)
        return;
    std::string text = Form->isVisible() ? "1" : "0";
    text += DigitOfState(*Form);
    // The normal bounds are read without restoring the window on screen first.
    QRect bounds = Form->normalGeometry();
    if (!bounds.isValid())
        bounds = Form->geometry();
    const ScreenTwips screen = PrimaryScreenTwips();
    const double x = PixelsToTwipsX(bounds.x()) / screen.Width;
    const double y = PixelsToTwipsY(bounds.y()) / screen.Height;
    const double w = PixelsToTwipsX(bounds.width()) / screen.Width;
    const double h = PixelsToTwipsY(bounds.height()) / screen.Height;
    text += RectToText(MakeRect(MakePoint(x, y), w, h));
    WriteText(FileName(), text);
}

} // namespace ornbrook
