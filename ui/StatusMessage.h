#pragma once

#include "diag/Debug_Modul.h"

#include <QLabel>

class QTimer;

namespace ornbrook {

// The status line's message: shown for a while, never cut off. A message wider
// than the line is shortened in the middle (the URL it names, usually) and is
// whole in its tooltip and its accessible name. Object name "StatusMessage".
class StatusMessage final : public QLabel {
public:
    explicit StatusMessage(QWidget* parent);

    void Show(const QString& text, int milliseconds);
    void Clear();

    // The label takes the width the line gives it; the text is shortened to fit.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Fit();

    LiveObject live_{"StatusMessage"};
    QString text_;
    QTimer* timer_;
};

} // namespace ornbrook
