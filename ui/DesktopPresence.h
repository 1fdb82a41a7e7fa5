#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "ui/CheckRunNews.h"
#include "ui/TrayState.h"

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace ornbrook {

class DesktopNotifier;
class MainForm;
class MainInterface;
class UrlFileList;

// The main window's part on the desktop beyond the window itself: the window
// and tray icon, the count of changed URLs in the title, a tray icon where the
// desktop has a tray, and a notification for each check run that finds new
// files or a newly failed URL (unless switched off in Options).
class DesktopPresence final : public QObject {
public:
    DesktopPresence(MainForm& form, std::shared_ptr<MainInterface> watchList);
    ~DesktopPresence() override;
    DesktopPresence(const DesktopPresence&) = delete;
    DesktopPresence& operator=(const DesktopPresence&) = delete;

    // Puts an icon in the tray; start-up does so where the desktop has a tray.
    void ShowTray();
    // The tray icon, or none without a tray.
    QSystemTrayIcon* Tray() const { return tray_; }
    const TrayState& State() const { return state_; }
    // A click on the tray icon: hides the window when it is in front, else
    // brings it there.
    void ToggleWindow();
    // Brings the window to the front with url selected (a click on a notice).
    void ShowURL(const std::string& url);

private:
    void myMainInterface_CheckBegins(const UrlFileList& list);
    void myMainInterface_CheckEnded(const UrlFileList& list);
    // Title and tray follow the watch list, once per turn of the event loop.
    void UpdateSoon();
    void Update();

    LiveObject live_{"DesktopPresence"};
    MainForm& form_;
    std::shared_ptr<MainInterface> watchList_;
    CheckRunNews news_;
    DesktopNotifier* notifier_;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<QMenu> trayMenu_;
    TrayState state_;
    bool updatePosted_ = false;
    Subscriptions subscriptions_;
};

} // namespace ornbrook
