#include "platform/windows_Interface.h"

#include <QDesktopServices>
#include <QUrl>

namespace ornbrook {

void OpenDocument(const std::string& target) {
    // Plain paths become file addresses; anything with a scheme is passed on as it is.
    const QString text = QString::fromUtf8(target.data(), static_cast<qsizetype>(target.size()));
    const QUrl url = QUrl::fromUserInput(text, QString(), QUrl::AssumeLocalFile);
    static_cast<void>(QDesktopServices::openUrl(url));
}

void SendMail(const std::string& address) {
    const QString text = QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size()));
    static_cast<void>(QDesktopServices::openUrl(QUrl("mailto:" + text, QUrl::TolerantMode)));
}

} // namespace ornbrook
