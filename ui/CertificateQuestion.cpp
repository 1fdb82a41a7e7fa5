#include "ui/CertificateQuestion.h"

#include "model/MainInterface.h"
#include "model/TrustedCertificates.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"

#include <QMessageBox>
#include <QWidget>

namespace ornbrook {

CertificateQuestion::CertificateQuestion(QWidget* window,
                                         const std::shared_ptr<MainInterface>& watchList, Ask ask,
                                         AskKey askKey)
    : QObject(window), window_(window), watchList_(watchList), ask_(std::move(ask)),
      askKey_(std::move(askKey)) {
    checkEnded_ = watchList->CheckEnded.Connect(
        [this](const UrlFileList& list) { myMainInterface_CheckEnded(list); });
}

CertificateQuestion::~CertificateQuestion() = default;

QString CertificateQuestion::QuestionText(const CertificateFacts& facts) {
    QString text = "Trust this certificate for " + ShownText(facts.Server) + "?\n";
    if (facts.Changed)
        text += "It is not the certificate you trusted for this server before.\n";
    text += '\n';
    for (const auto& [label, value] : DescribeCertificate(facts))
        text += DisplayText(label) + ": " + ShownText(value) + '\n';
    return text.trimmed();
}

QString CertificateQuestion::QuestionText(const HostKeyFacts& facts) {
    QString text = "Trust this host key for " + ShownText(facts.Server) + "?\n";
    if (facts.Verdict == HostKeyVerdict::Changed)
        text += "It is not the key this server showed before (kept in " +
                ShownText(facts.OldKeyFile) + ").\n";
    text += "\nKey type: " + ShownText(facts.KeyType) +
            "\nFingerprint: " + DisplayText(facts.Fingerprint);
    return text;
}

namespace {
bool AskYesOrNo(QWidget* window, const QString& title, bool warning, const QString& text) {
    QMessageBox box(window);
    box.setObjectName("CertificateQuestion");
    box.setWindowTitle(title);
    box.setIcon(warning ? QMessageBox::Warning : QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::string KeyOf(const CertificateFacts& facts) {
    return facts.Server + " " + facts.Fingerprint;
}

std::string KeyOf(const HostKeyFacts& facts) {
    return "ssh " + facts.Server + " " + facts.Fingerprint;
}
} // namespace

bool CertificateQuestion::AskWithMessageBox(QWidget* window, const CertificateFacts& facts) {
    return AskYesOrNo(window, "Certificate", facts.Changed, QuestionText(facts));
}

bool CertificateQuestion::AskKeyWithMessageBox(QWidget* window, const HostKeyFacts& facts) {
    return AskYesOrNo(window, "Host key", facts.Verdict == HostKeyVerdict::Changed,
                      QuestionText(facts));
}

void CertificateQuestion::AskAgainAbout(const UrlFileList& list) {
    if (const auto& facts = list.RejectedCertificate())
        asked_.erase(KeyOf(*facts));
    if (const auto& facts = list.RejectedHostKey())
        asked_.erase(KeyOf(*facts));
}

void CertificateQuestion::AskNow(const UrlFileList& list) {
    // Copies: the list may change while the question is open.
    if (const auto& facts = list.RejectedCertificate()) {
        const CertificateFacts copy = *facts; // NOLINT(performance-unnecessary-copy-initialization)
        asked_.insert(KeyOf(copy));
        AskAbout(copy);
    } else if (const auto& key = list.RejectedHostKey()) {
        const HostKeyFacts copy = *key; // NOLINT(performance-unnecessary-copy-initialization)
        asked_.insert(KeyOf(copy));
        AskAbout(copy);
    }
}

void CertificateQuestion::myMainInterface_CheckEnded(const UrlFileList& list) {
    // Not from inside the watch list's event: a modal question runs the event
    // loop, and the list that raised it may go meanwhile.
    if (const auto& facts = list.RejectedCertificate()) {
        if (asked_.insert(KeyOf(*facts)).second)
            QMetaObject::invokeMethod(
                this, [this, copy = *facts] { AskAbout(copy); }, Qt::QueuedConnection);
        return;
    }
    // A changed host key may be an attack: the user asks about it or nobody does.
    const auto& key = list.RejectedHostKey();
    if (key && key->Verdict == HostKeyVerdict::Unknown && asked_.insert(KeyOf(*key)).second)
        QMetaObject::invokeMethod(
            this, [this, copy = *key] { AskAbout(copy); }, Qt::QueuedConnection);
}

void CertificateQuestion::AskAbout(const CertificateFacts& facts) {
    if (!ask_(window_, facts))
        return;
    TrustCertificate(facts);
    CheckAgain(facts.Server, false);
}

void CertificateQuestion::AskAbout(const HostKeyFacts& facts) {
    if (!askKey_(window_, facts))
        return;
    TrustHostKey(facts);
    CheckAgain(facts.Server, true);
}

void CertificateQuestion::CheckAgain(const std::string& server, bool hostKey) {
    const auto watchList = watchList_.lock();
    if (!watchList)
        return;
    for (std::int32_t i = 1; i <= watchList->GetURLsCount(); ++i) {
        const auto list = watchList->GetURL(i);
        const bool refused =
            hostKey ? list->RejectedHostKey() && list->RejectedHostKey()->Server == server
                    : list->RejectedCertificate() && list->RejectedCertificate()->Server == server;
        if (refused && !list->IsCheckPending())
            list->CheckFiles();
    }
}

} // namespace ornbrook
