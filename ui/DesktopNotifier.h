#pragma once

#include "diag/Debug_Modul.h"

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <map>
#include <string>

class QDBusError;

namespace ornbrook {

struct RunNotice;

// Shows notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus) and reports a click on
// one. Calls never wait: without a bus or a service a notice is dropped and
// noted once in the log, and nothing is tried again until the next notice.
class DesktopNotifier final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* Service = "org.freedesktop.Notifications";
    static constexpr const char* Path = "/org/freedesktop/Notifications";

    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    void Notify(const RunNotice& notice);

    // The user clicked a notice (where the service offers that); url is the
    // notice's URL.
    std::function<void(const std::string& url)> Clicked;

private Q_SLOTS:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    void Send(const RunNotice& notice, const QStringList& capabilities);
    void Dropped(const QDBusError& error);

    LiveObject live_{"DesktopNotifier"};
    QDBusConnection bus_;
    // Our notices still shown, with the URL a click selects.
    std::map<uint, std::string> shown_;
    bool dropNoted_ = false;
};

} // namespace ornbrook
