#include "ui/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <algorithm>

namespace ornbrook {

const char* const DesktopAppId = ORNBROOK_APP_ID;

namespace {

// Sizes a desktop asks for most, from a tray's 16 to a launcher's 256.
constexpr int Sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

void DrawDot(QPainter& painter, int size, QPointF centre, const QColor& colour, bool exclaim) {
    const double radius = size * 0.2;
    painter.setPen(QPen(QColor(255, 255, 255), std::max(1.0, size / 24.0)));
    painter.setBrush(colour);
    painter.drawEllipse(centre, radius, radius);
    if (!exclaim || size < 22)
        return;
    painter.setPen(QPen(QColor(255, 255, 255), size / 14.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre + QPointF(0, -radius * 0.5), centre + QPointF(0, radius * 0.1));
    painter.drawPoint(centre + QPointF(0, radius * 0.5));
}

QIcon Draw(bool changes, bool failures) {
    QSvgRenderer svg(QStringLiteral(":/ornbrook/ornbrook.svg"));
    QIcon icon;
    for (const int size : Sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter, QRectF(0, 0, size, size));
        const double edge = size * 0.23;
        if (changes)
            DrawDot(painter, size, QPointF(size - edge, edge), QColor(255, 176, 0), false);
        if (failures)
            DrawDot(painter, size, QPointF(size - edge, size - edge), QColor(217, 43, 43), true);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon AppIcon() {
    return Draw(false, false);
}

QIcon AppIconMarked(bool changes, bool failures) {
    return Draw(changes, failures);
}

} // namespace ornbrook
