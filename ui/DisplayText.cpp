#include "ui/DisplayText.h"

#include <QStringDecoder>

namespace ornbrook {

QString DisplayText(const std::string& bytes) {
    const QByteArray raw =
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(raw);
    if (utf8.hasError())
        return QString::fromLatin1(raw);
    return text;
}

std::string ToBytes(const QString& text) {
    return text.toStdString();
}

} // namespace ornbrook
