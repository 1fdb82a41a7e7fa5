#include "ui/CertificateQuestion.h"

#include "model/MainInterface.h"
#include "model/TrustedCertificates.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"

#include <QMessageBox>
#include <QWidget>

namespace ornbrook {

CertificateQuestion::CertificateQuestion(QWidget* window,
                                         const std::shared_ptr<MainInterface>& watchList, Ask ask)
    : QObject(window), window_(window), watchList_(watchList), ask_(std::move(ask)) {
    checkEnded_ = watchList->CheckEnded.Connect(
        [this](const UrlFileList& list) { myMainInterface_CheckEnded(list); });
}

CertificateQuestion::~CertificateQuestion() = default;

QString CertificateQuestion::QuestionText(const CertificateFacts& facts) {
    QString text = "Trust this certificate for " + DisplayText(facts.Server) + "?\n";
    if (facts.Changed)
        text += "It is not the certificate you trusted for this server before.\n";
    text += '\n';
    for (const auto& [label, value] : DescribeCertificate(facts))
        text += DisplayText(label) + ": " + DisplayText(value) + '\n';
    return text.trimmed();
}

bool CertificateQuestion::AskWithMessageBox(QWidget* window, const CertificateFacts& facts) {
    QMessageBox box(window);
    box.setObjectName("CertificateQuestion");
    box.setWindowTitle("Certificate");
    box.setIcon(facts.Changed ? QMessageBox::Warning : QMessageBox::Question);
    box.setTextFormat(Qt::PlainText);
    box.setText(QuestionText(facts));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace {
std::string KeyOf(const CertificateFacts& facts) {
    return facts.Server + " " + facts.Fingerprint;
}
} // namespace

void CertificateQuestion::AskAgainAbout(const UrlFileList& list) {
    if (const auto& facts = list.RejectedCertificate())
        asked_.erase(KeyOf(*facts));
}

void CertificateQuestion::AskNow(const UrlFileList& list) {
    if (const auto& facts = list.RejectedCertificate()) {
        // A copy: the list may change while the question is open.
        const CertificateFacts copy = *facts;
        asked_.insert(KeyOf(copy));
        AskAbout(copy);
    }
}

void CertificateQuestion::myMainInterface_CheckEnded(const UrlFileList& list) {
    const auto& facts = list.RejectedCertificate();
    if (!facts || !asked_.insert(KeyOf(*facts)).second)
        return;
    // Not from inside the watch list's event: a modal question runs the event
    // loop, and the list that raised it may go meanwhile.
    QMetaObject::invokeMethod(
        this, [this, copy = *facts] { AskAbout(copy); }, Qt::QueuedConnection);
}

void CertificateQuestion::AskAbout(const CertificateFacts& facts) {
    if (!ask_(window_, facts))
        return;
    TrustCertificate(facts);
    const auto watchList = watchList_.lock();
    if (!watchList)
        return;
    for (std::int32_t i = 1; i <= watchList->GetURLsCount(); ++i) {
        const auto list = watchList->GetURL(i);
        const auto& refused = list->RejectedCertificate();
        if (refused && refused->Server == facts.Server && !list->IsCheckPending())
            list->CheckFiles();
    }
}

} // namespace ornbrook
