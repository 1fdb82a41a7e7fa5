#include "ui/DesktopNotifier.h"

#include "ui/AppIcon.h"
#include "ui/CheckRunNews.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace ornbrook {

namespace {

constexpr const char* Interface = DesktopNotifier::Service;
// The action every click on the notice's body invokes.
constexpr const char* DefaultAction = "default";
// Let the service decide how long a notice stays.
constexpr int ServiceDefaultTimeout = -1;

QDBusMessage Call(const char* method) {
    return QDBusMessage::createMethodCall(DesktopNotifier::Service, DesktopNotifier::Path,
                                          Interface, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {
    if (!bus_.isConnected())
        return;
    // By service name: the bus delivers them from whichever process owns it, now or later.
    bus_.connect(Service, Path, Interface, "ActionInvoked", this,
                 SLOT(ActionInvoked(uint, QString)));
    bus_.connect(Service, Path, Interface, "NotificationClosed", this,
                 SLOT(NotificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() {
    if (!bus_.isConnected())
        return;
    bus_.disconnect(Service, Path, Interface, "ActionInvoked", this,
                    SLOT(ActionInvoked(uint, QString)));
    bus_.disconnect(Service, Path, Interface, "NotificationClosed", this,
                    SLOT(NotificationClosed(uint, uint)));
}

void DesktopNotifier::Notify(const RunNotice& notice) {
    if (!bus_.isConnected()) {
        Dropped(bus_.lastError());
        return;
    }
    // Asked every time: the service may have been replaced by another since.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(Call("GetCapabilities")), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isError())
                    Dropped(reply.error());
                else
                    Send(notice, reply.value());
            });
}

void DesktopNotifier::Send(const RunNotice& notice, const QStringList& capabilities) {
    QString body = notice.Lines.join('\n');
    // A service that reads markup would take "<" in a file name for a tag.
    if (capabilities.contains("body-markup"))
        body = body.toHtmlEscaped();
    QStringList actions;
    if (capabilities.contains("actions"))
        actions << DefaultAction << "Show";
    QVariantMap hints;
    hints["desktop-entry"] = QString(DesktopAppId);
    QDBusMessage message = Call("Notify");
    message << QString("Ornbrook") << uint(0) << QString(DesktopAppId) << notice.Summary << body
            << actions << hints << ServiceDefaultTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    const std::string url = notice.URL;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, url](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isError()) {
                    Dropped(reply.error());
                    return;
                }
                dropNoted_ = false;
                shown_[reply.value()] = url;
            });
}

void DesktopNotifier::Dropped(const QDBusError& error) {
    // Once per outage: a desktop without the service would fill the log.
    if (dropNoted_)
        return;
    dropNoted_ = true;
    WriteLog("desktop notification not shown: " +
             (error.isValid() ? error.message().toStdString() : std::string("no session bus")));
}

void DesktopNotifier::ActionInvoked(uint id, const QString& action) {
    const auto it = shown_.find(id);
    if (it == shown_.end())
        return;
    // "default" is the click on the notice, "Show" its button; both mean the same.
    const std::string url = it->second;
    if ((action == DefaultAction || action == "Show") && Clicked)
        Clicked(url);
}

void DesktopNotifier::NotificationClosed(uint id, uint) {
    shown_.erase(id);
}

} // namespace ornbrook
