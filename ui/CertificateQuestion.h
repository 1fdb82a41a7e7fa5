#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "ftp/CertificateFacts.h"
#include "sftp/HostKeyTrust.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <set>
#include <string>

class QWidget;

namespace ornbrook {

class MainInterface;
class UrlFileList;

// Asks the user whether to trust a certificate that a check refused ("Trust this
// certificate for host:port?", with its subject, issuer, validity and
// fingerprint). On yes the certificate is trusted and the URLs refused over it
// are checked again. A no holds for the run: checks that the timer starts do
// not ask again, until the user asks for one of the server's URLs (Enter,
// Check now: AskAgainAbout) or asks to trust it (AskNow).
// The question is asked after the check's events are over, so the watch list
// may change while it is open; a URL that has gone meanwhile is left alone.
// An SFTP server's unknown host key is asked about the same way ("Trust this
// host key for host:port?"); a key that differs from the one on file is asked
// about only when the user asks (AskNow), never because a timer's check met it.
class CertificateQuestion final : public QObject {
public:
    // Whether the user trusts the certificate or key; the window is the
    // question's parent.
    using Ask = std::function<bool(QWidget* window, const CertificateFacts& facts)>;
    using AskKey = std::function<bool(QWidget* window, const HostKeyFacts& facts)>;

    CertificateQuestion(QWidget* window, const std::shared_ptr<MainInterface>& watchList,
                        Ask ask = AskWithMessageBox, AskKey askKey = AskKeyWithMessageBox);
    ~CertificateQuestion() override;
    CertificateQuestion(const CertificateQuestion&) = delete;
    CertificateQuestion& operator=(const CertificateQuestion&) = delete;

    // The user asks for a check of list: if its server's certificate was
    // declined, a refusal of this check asks again.
    void AskAgainAbout(const UrlFileList& list);
    // Asks now about the certificate that list's last check refused, if any.
    void AskNow(const UrlFileList& list);

    static bool AskWithMessageBox(QWidget* window, const CertificateFacts& facts);
    static bool AskKeyWithMessageBox(QWidget* window, const HostKeyFacts& facts);
    // The question with the facts, one per line.
    static QString QuestionText(const CertificateFacts& facts);
    static QString QuestionText(const HostKeyFacts& facts);

private:
    void myMainInterface_CheckEnded(const UrlFileList& list);
    void AskAbout(const CertificateFacts& facts);
    void AskAbout(const HostKeyFacts& facts);
    // Checks again every URL of server refused over what the user now trusts.
    void CheckAgain(const std::string& server, bool hostKey);

    LiveObject live_{"CertificateQuestion"};
    QWidget* window_;
    std::weak_ptr<MainInterface> watchList_;
    Ask ask_;
    AskKey askKey_;
    Subscription checkEnded_;
    // Server and fingerprint of every certificate and host key asked about in
    // this run and not asked about again since.
    std::set<std::string> asked_;
};

} // namespace ornbrook
