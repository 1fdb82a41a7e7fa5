#include "ui/StatusMessage.h"

#include <QTimer>

namespace ornbrook {

StatusMessage::StatusMessage(QWidget* parent) : QLabel(parent), timer_(new QTimer(this)) {
    setObjectName("StatusMessage");
    setTextFormat(Qt::PlainText);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] { Clear(); });
}

void StatusMessage::Show(const QString& text, int milliseconds) {
    text_ = text;
    setAccessibleName(text);
    Fit();
    timer_->start(milliseconds);
}

void StatusMessage::Clear() {
    text_.clear();
    setAccessibleName({});
    Fit();
}

QSize StatusMessage::sizeHint() const {
    return {0, fontMetrics().height()};
}

QSize StatusMessage::minimumSizeHint() const {
    return sizeHint();
}

void StatusMessage::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void StatusMessage::Fit() {
    const QString shown = fontMetrics().elidedText(text_, Qt::ElideMiddle, contentsRect().width());
    setText(shown);
    setToolTip(shown == text_ ? QString() : text_);
}

} // namespace ornbrook
