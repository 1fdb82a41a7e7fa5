#include "ui/DisplayText.h"

#include <QStringDecoder>

namespace ornbrook {

namespace {

// The text and whether it had to be read as Latin-1.
std::pair<QString, bool> Decoded(const std::string& bytes) {
    const QByteArray raw =
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(raw);
    if (utf8.hasError())
        return {QString::fromLatin1(raw), true};
    return {text, false};
}

} // namespace

QString DisplayText(const std::string& bytes) {
    return Decoded(bytes).first;
}

QString ShownText(const std::string& bytes) {
    const auto [text, latin1] = Decoded(bytes);
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == '\\')
            shown += QStringLiteral("\\\\");
        else if (code == '\n')
            shown += QStringLiteral("\\n");
        else if (code == '\t')
            shown += QStringLiteral("\\t");
        else if (code == '\r')
            shown += QStringLiteral("\\r");
        else if (code < 0x20 || code == 0x7F || (latin1 && code >= 0x80 && code < 0xA0))
            shown += QStringLiteral("\\x%1").arg(code, 2, 16, QChar('0'));
        else if (code >= 0x80 && code < 0xA0) // C1 controls of UTF-8 text, as their bytes
            shown += QStringLiteral("\\xc2\\x%1").arg(code, 2, 16);
        else if (code == 0x2028 || code == 0x2029)
            shown += QStringLiteral("\\xe2\\x80\\x%1").arg(code - 0x2028 + 0xa8, 2, 16);
        else
            shown += c;
    }
    return shown;
}

std::string ToBytes(const QString& text) {
    return text.toStdString();
}

} // namespace ornbrook
