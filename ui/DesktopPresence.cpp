#include "ui/DesktopPresence.h"

#include "model/MainInterface.h"
#include "ui/AppIcon.h"
#include "ui/DesktopNotifier.h"
#include "ui/MainForm.h"

#include <QDBusConnection>
#include <QMenu>
#include <QSystemTrayIcon>

namespace ornbrook {

DesktopPresence::DesktopPresence(MainForm& form, std::shared_ptr<MainInterface> watchList)
    : QObject(&form), form_(form), watchList_(std::move(watchList)), news_(*watchList_),
      notifier_(new DesktopNotifier(QDBusConnection::sessionBus(), this)) {
    form_.setWindowIcon(AppIcon());
    notifier_->Clicked = [this](const std::string& url) { ShowURL(url); };

    const auto listen = [this](auto& event, auto handler) {
        subscriptions_ += event.Connect(std::move(handler));
    };
    listen(watchList_->Change, [this](const ListChange&) { UpdateSoon(); });
    listen(watchList_->CheckBegins,
           [this](const UrlFileList& list) { myMainInterface_CheckBegins(list); });
    listen(watchList_->CheckEnded,
           [this](const UrlFileList& list) { myMainInterface_CheckEnded(list); });
    listen(watchList_->ListChanged, [this] { UpdateSoon(); });
    Update();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        ShowTray();
}

DesktopPresence::~DesktopPresence() = default;

void DesktopPresence::ShowTray() {
    if (tray_)
        return;
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->setObjectName("TrayMenu");
    const auto add = [this](const char* name, const char* caption, auto command) {
        QAction* action = trayMenu_->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, command);
    };
    add("trayShow", "&Show", [this] { form_.BringToFront(); });
    add("trayCheck", "&Check now", [this] { watchList_->CheckFiles(); });
    add("trayRefresh", "&Refresh", [this] { form_.mnuRefresh_Click(); });
    trayMenu_->addSeparator();
    add("trayQuit", "&Quit", [this] { form_.close(); });

    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(trayMenu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger)
                    ToggleWindow();
            });
    Update();
    tray_->show();
}

void DesktopPresence::ToggleWindow() {
    if (form_.isVisible() && !form_.isMinimized() && form_.isActiveWindow())
        form_.hide();
    else
        form_.BringToFront();
}

void DesktopPresence::ShowURL(const std::string& url) {
    form_.BringToFront();
    form_.SelectURL(url);
}

void DesktopPresence::myMainInterface_CheckBegins(const UrlFileList&) {
    UpdateSoon();
}

void DesktopPresence::myMainInterface_CheckEnded(const UrlFileList& list) {
    const bool runEnded = watchList_->CheckProgressText().empty();
    if (const auto notice = news_.CheckEnded(list, runEnded);
        notice && watchList_->Prefs().NotifyNewFiles())
        notifier_->Notify(*notice);
    UpdateSoon();
}

void DesktopPresence::UpdateSoon() {
    if (updatePosted_)
        return;
    updatePosted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { Update(); }, Qt::QueuedConnection);
}

void DesktopPresence::Update() {
    updatePosted_ = false;
    const TrayState state = TrayState::Of(*watchList_);
    if (form_.windowTitle() != state.WindowTitle())
        form_.setWindowTitle(state.WindowTitle());
    if (tray_) {
        if (state.IconKind() != state_.IconKind() || tray_->icon().isNull()) {
            const TrayState::Kind kind = state.IconKind();
            tray_->setIcon(AppIconMarked(
                kind == TrayState::Kind::Changes || kind == TrayState::Kind::ChangesAndFailures,
                kind == TrayState::Kind::Failures || kind == TrayState::Kind::ChangesAndFailures));
        }
        tray_->setToolTip(state.ToolTip());
    }
    state_ = state;
}

} // namespace ornbrook
