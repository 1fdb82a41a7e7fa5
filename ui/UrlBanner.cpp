#include "ui/UrlBanner.h"

#include "model/UrlFileList.h"
#include "ui/DisplayText.h"
#include "ui/MainFormColours.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace ornbrook {

UrlBanner::UrlBanner(QWidget* parent, Handlers handlers)
    : QFrame(parent), handlers_(std::move(handlers)) {
    setObjectName("UrlBanner");
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    icon_ = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize);
    icon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(side, side));
    icon_->setAlignment(Qt::AlignTop);
    text_ = new QLabel(this);
    text_->setObjectName("BannerText");
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    // Readable and copyable by keyboard: a reason is worth quoting.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setFocusPolicy(Qt::TabFocus);
    checkNow_ = new QPushButton("Check now", this);
    checkNow_->setObjectName("BannerCheckNow");
    trust_ = new QPushButton("Trust...", this);
    trust_->setObjectName("BannerTrust");
    trust_->setToolTip("Show the server's certificate and decide whether to trust it");
    settings_ = new QPushButton("Settings...", this);
    settings_->setObjectName("BannerSettings");
    settings_->setToolTip("Subfolders and name filters of this URL");
    connect(settings_, &QPushButton::clicked, this, [this] {
        if (handlers_.Settings)
            handlers_.Settings();
    });
    connect(checkNow_, &QPushButton::clicked, this, [this] {
        if (handlers_.CheckNow)
            handlers_.CheckNow();
    });
    connect(trust_, &QPushButton::clicked, this, [this] {
        if (handlers_.Trust)
            handlers_.Trust();
    });
    // The buttons go below the text, which needs the pane's width.
    auto* grid = new QGridLayout(this);
    grid->addWidget(icon_, 0, 0, Qt::AlignTop);
    grid->addWidget(text_, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(checkNow_);
    buttons->addWidget(trust_);
    buttons->addWidget(settings_);
    grid->addLayout(buttons, 1, 1);
    grid->setColumnStretch(1, 1);
    hide();
}

void UrlBanner::Say(const QString& text, bool failed, bool offerCheck, bool offerTrust,
                    bool offerSettings) {
    // Dark red on white, as a failed URL's row (see MainFormColours.h).
    QPalette colours = palette();
    colours.setColor(QPalette::Window, failed ? StateBand() : QColor(240, 240, 240));
    colours.setColor(QPalette::WindowText, failed ? RedText() : BlackText());
    setPalette(colours);
    icon_->setVisible(failed);
    text_->setText(text);
    setAccessibleName(text);
    checkNow_->setVisible(offerCheck);
    trust_->setVisible(offerTrust);
    settings_->setVisible(offerSettings);
    show();
}

void UrlBanner::Show(const UrlFileList* selected, int urlCount,
                     std::optional<std::int64_t> nextTry) {
    if (!selected) {
        if (urlCount == 0)
            hide();
        else
            Say("Select a URL to see its files.", false, false, false);
        return;
    }
    const UrlFileList& list = *selected;
    const bool pending = list.IsCheckPending();
    if (list.IsError()) {
        QString text = "The last check failed: " + ShownText(list.GetErrorMsg());
        if (pending)
            text += "\nChecking it again...";
        else if (nextTry)
            text += "\nNext try at " +
                    QDateTime::fromSecsSinceEpoch(*nextTry).toString("yyyy-MM-dd HH:mm:ss") + ".";
        Say(text, true, !pending,
            list.RejectedCertificate().has_value() || list.RejectedHostKey().has_value());
        return;
    }
    if (list.GetFilesCount() > 0) {
        hide();
        return;
    }
    if (pending)
        Say("Checking " + ShownText(list.ParsedURL().Masked()) + "...", false, false, false);
    else if (const std::int32_t hidden = list.HiddenBySettings(); hidden > 0)
        // Not empty: the user's own filters hide what is there.
        Say(QString::number(hidden) + (hidden == 1 ? " file" : " files") +
                " hidden by this URL's filters.",
            false, false, false, true);
    else if (!list.LastChecked())
        Say("Not checked yet since Ornbrook started: its files show after its first check.", false,
            true, false);
    else
        Say("The directory is empty.", false, false, false);
}

} // namespace ornbrook
