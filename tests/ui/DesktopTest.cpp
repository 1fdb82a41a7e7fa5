// The main window on the desktop: its title, its tray icon, and notifications
// through a real session bus of our own (dbus-daemon, started here) to a small
// notification service of our own that records what it receives.
#include "ui/DesktopPresence.h"
#include "ui/UrlsModel.h"

#include "base/FileIO_Code.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CheckRunNews.h"
#include "ui/DesktopNotifier.h"

#include <QAction>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>

// Failures show texts, not UTF-16 units.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace ornbrook;
using test::Watched;

namespace {

// A session bus of our own for the whole test program. Its configuration names
// no service directories, so no notification service of the machine can be
// started by it: what answers is ours, or nothing.
class SessionBus final : public ::testing::Environment {
public:
    static QString Address() { return address_; }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const QString config = dir_.filePath("bus.conf");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QString("<!DOCTYPE busconfig PUBLIC"
                           " \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig>\n"
                           "  <type>session</type>\n"
                           "  <listen>unix:dir=%1</listen>\n"
                           "  <auth>EXTERNAL</auth>\n"
                           "  <policy context=\"default\">\n"
                           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                           "    <allow eavesdrop=\"true\"/>\n"
                           "    <allow own=\"*\"/>\n"
                           "  </policy>\n"
                           "</busconfig>\n")
                       .arg(dir_.path())
                       .toUtf8());
        file.close();
        daemon_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address"});
        ASSERT_TRUE(daemon_.waitForStarted()) << "dbus-daemon (Debian package dbus-daemon) missing";
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        ASSERT_FALSE(address_.isEmpty());
        // Before anything asks for the session bus: the program's notices go here.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    }
    void TearDown() override {
        daemon_.terminate();
        daemon_.waitForFinished();
    }

private:
    static inline QString address_;
    QTemporaryDir dir_;
    QProcess daemon_;
};

const auto* const bus = ::testing::AddGlobalTestEnvironment(new SessionBus);

} // namespace

namespace ornbrook::test {

// org.freedesktop.Notifications as a desktop offers it, recording each notice.
class RecordingService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice {
        QString App, Icon, Summary, Body;
        QStringList Actions;
        QVariantMap Hints;
    };

    RecordingService()
        : bus_(QDBusConnection::connectToBus(SessionBus::Address(), "notification-service")) {
        bus_.registerObject(DesktopNotifier::Path, this, QDBusConnection::ExportAllSlots);
    }
    ~RecordingService() override {
        Stop();
        bus_.unregisterObject(DesktopNotifier::Path);
        QDBusConnection::disconnectFromBus("notification-service");
    }
    bool Start() { return bus_.registerService(DesktopNotifier::Service); }
    void Stop() { bus_.unregisterService(DesktopNotifier::Service); }
    // What a click on notice number index (from 0) sends.
    void Click(int index, const QString& action = "default") {
        QDBusMessage signal = QDBusMessage::createSignal(DesktopNotifier::Path,
                                                         DesktopNotifier::Service, "ActionInvoked");
        signal << uint(index + 1) << action;
        bus_.send(signal);
    }
    bool WaitFor(std::size_t count) {
        return QTest::qWaitFor([&] { return received.size() >= count; }, 10000) &&
               received.size() == count;
    }

    std::vector<Notice> received;
    QStringList capabilities{"body", "actions"};

public Q_SLOTS:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        received.push_back({app, icon, summary, body, actions, hints});
        return uint(received.size());
    }
    QStringList GetCapabilities() { return capabilities; }
    void CloseNotification(uint) {}

private:
    QDBusConnection bus_;
};

} // namespace ornbrook::test

namespace {

using test::RecordingService;

// One watched directory on a server of its own, whose listing and failure the
// test sets between checks.
class Directory {
public:
    explicit Directory(std::vector<std::string> names)
        : names_(std::move(names)),
          server_({{"CWD",
                    [this](test::FaultFtpServer::Session& s, const std::string&) {
                        const std::lock_guard lock(mutex_);
                        s.Reply(failing_ ? "550 no such directory" : "250 directory changed");
                    }},
                   {"NLST", [this](test::FaultFtpServer::Session& s, const std::string&) {
                        const std::lock_guard lock(mutex_);
                        s.ServeListing(names_);
                    }}}) {}
    std::string Url() const { return server_.Url("/in/"); }
    QString Shown() const { return QString::fromStdString(Url()); }
    void List(std::vector<std::string> names) {
        const std::lock_guard lock(mutex_);
        names_ = std::move(names);
    }
    void Fail(bool failing) {
        const std::lock_guard lock(mutex_);
        failing_ = failing;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> names_;
    bool failing_ = false;
    test::FaultFtpServer server_;
};

class DesktopTest : public test::MainFormFixture {
protected:
    void SetUp() override { ASSERT_TRUE(service.Start()); }
    // A periodic check of the whole list, to its end.
    void Run() {
        Watch().CheckFiles();
        ASSERT_TRUE(WaitForChecks());
    }
    DesktopPresence& Desktop() {
        return *dynamic_cast<DesktopPresence*>(form->findChild<QObject*>("DesktopPresence"));
    }
    bool TitleIs(const QString& title) {
        return QTest::qWaitFor([&] { return form->windowTitle() == title; }, 5000);
    }
    std::string SelectedURL() {
        return URLs().currentIndex().data(UrlsModel::UrlRole).toByteArray().toStdString();
    }

    RecordingService service;
};

TEST_F(DesktopTest, OneNoticePerRunWithNewsAndAClickShowsItsURL) {
    Directory a({"x"}), b({"x"});
    Load({Watched(a.Url(), "", {{"x", 0}}), Watched(b.Url(), "", {{"x", 0}})});

    Run(); // nothing new: no notice (the first one received below is the next run's)
    a.List({"x", "y", "z"});
    b.List({"x", "w"});
    Run();
    ASSERT_TRUE(service.WaitFor(1));
    const RecordingService::Notice& first = service.received[0];
    EXPECT_EQ(first.Summary, "3 new files");
    EXPECT_EQ(first.Body, "2 new in " + a.Shown() + "\n1 new in " + b.Shown());
    EXPECT_EQ(first.App, "Ornbrook");
    EXPECT_EQ(first.Hints.value("desktop-entry").toString(), "org.example.ornbrook");
    EXPECT_EQ(first.Actions, QStringList({"default", "Show"}));

    Run(); // the same names again: no notice
    b.Fail(true);
    Run(); // b fails after being fine: told
    ASSERT_TRUE(service.WaitFor(2));
    EXPECT_EQ(service.received[1].Summary, "1 URL failed");
    EXPECT_TRUE(service.received[1].Body.startsWith(b.Shown() + " failed: "))
        << service.received[1].Body.toStdString();
    Run(); // still failing: not told again
    a.List({"x", "y", "z", "v"});
    Run();
    ASSERT_TRUE(service.WaitFor(3));
    EXPECT_EQ(service.received[2].Summary, "1 new file");
    EXPECT_EQ(service.received[2].Body, "1 new in " + a.Shown());

    // A click on the failure's notice brings the hidden window back with b selected.
    Select(0);
    form->hide();
    service.Click(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->isVisible(); }, 5000));
    EXPECT_EQ(SelectedURL(), b.Url());
    // The button does the same; a notice that is not ours does nothing.
    Select(1);
    service.Click(0, "Show");
    ASSERT_TRUE(QTest::qWaitFor([&] { return SelectedURL() == a.Url(); }, 5000));
    Select(1);
    service.Click(41);
    QTest::qWait(50);
    EXPECT_EQ(SelectedURL(), b.Url());
}

// The dialog's switch is tested with the dialog; here what it turns off.
TEST_F(DesktopTest, TheNotifySettingTurnsNoticesOff) {
    Directory a({"x"});
    Load({Watched(a.Url(), "", {{"x", 0}})});
    Watch().Prefs().SetLine(Preferences::Key::Notify, "0");
    a.List({"x", "off1", "off2"});
    Run();
    Watch().Prefs().SetLine(Preferences::Key::Notify, "1");
    a.List({"x", "off1", "off2", "on"});
    Run();
    // The one notice is the second run's: the first, with two names, was not sent.
    ASSERT_TRUE(service.WaitFor(1));
    EXPECT_EQ(service.received[0].Summary, "1 new file");
}

TEST_F(DesktopTest, MarkupAndActionsOnlyWhereTheServiceHasThem) {
    Load();
    RunNotice notice{"1 new file", {"1 new in ftp://h/a<b>&c/"}, "ftp://h/a<b>&c/"};
    struct Row {
        QStringList capabilities;
        QString body;
        QStringList actions;
    };
    const Row rows[] = {
        {{"body"}, "1 new in ftp://h/a<b>&c/", {}},
        {{"body", "body-markup", "actions"},
         "1 new in ftp://h/a&lt;b&gt;&amp;c/",
         {"default", "Show"}},
    };
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    for (const Row& row : rows) {
        service.capabilities = row.capabilities;
        notifier.Notify(notice);
        ASSERT_TRUE(service.WaitFor(static_cast<std::size_t>(&row - rows) + 1));
        EXPECT_EQ(service.received.back().Body, row.body);
        EXPECT_EQ(service.received.back().Actions, row.actions);
    }
}

TEST_F(DesktopTest, WithoutServiceOrBusNothingBreaksAndNothingIsRetried) {
    Load();
    service.Stop();
    QDBusConnection session = QDBusConnection::sessionBus();
    DesktopNotifier notifier(session);
    int clicks = 0;
    notifier.Clicked = [&](const std::string&) { ++clicks; };
    notifier.Notify(RunNotice{"lost", {"no service"}, "ftp://lost/"});
    // A round trip on the same connection: the bus has answered the notice's
    // call by now, and the answer is handled below.
    EXPECT_FALSE(session.interface()->isServiceRegistered(DesktopNotifier::Service).value());
    QTest::qWait(100);

    ASSERT_TRUE(service.Start());
    notifier.Notify(RunNotice{"found", {"service back"}, "ftp://found/"});
    ASSERT_TRUE(service.WaitFor(1));
    EXPECT_EQ(service.received[0].Summary, "found");
    QTest::qWait(100);
    EXPECT_EQ(service.received.size(), 1u);

    // No bus at all.
    DesktopNotifier alone(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "no-bus"));
    alone.Clicked = [&](const std::string&) { ++clicks; };
    alone.Notify(RunNotice{"nowhere", {}, "ftp://nowhere/"});
    QTest::qWait(50);
    EXPECT_EQ(clicks, 0);
    QDBusConnection::disconnectFromBus("no-bus");
}

TEST_F(DesktopTest, TitleAndTrayFollowTheWatchList) {
    // Nothing listens on port 1: a check of these ends at once.
    Load({Watched("ftp://127.0.0.1:1/a/", "", {{"f", 1}}),
          Watched("ftp://127.0.0.1:1/b/", "", {{"g", 2}}),
          Watched("ftp://127.0.0.1:1/down/", "could not connect")});
    EXPECT_EQ(form->windowTitle(), "Ornbrook (2)");
    EXPECT_FALSE(form->windowIcon().isNull());
    // No tray offscreen: the window works as ever. Where there is one, it shows this.
    EXPECT_EQ(Desktop().Tray(), nullptr);
    Desktop().ShowTray();
    QSystemTrayIcon* tray = Desktop().Tray();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->toolTip(), "Ornbrook\n2 URLs with changes: 1 new, 1 gone\n1 URL failed");
    EXPECT_FALSE(tray->icon().isNull());
    const auto action = [&](const char* name) {
        return tray->contextMenu()->findChild<QAction*>(name);
    };
    for (const char* name : {"trayShow", "trayCheck", "trayRefresh", "trayQuit"})
        ASSERT_NE(action(name), nullptr) << name;

    // Deleting a changed URL raises no watch-list event; the title follows all the same.
    Select(1);
    Key(&URLs(), Qt::Key_Delete);
    EXPECT_TRUE(TitleIs("Ornbrook (1)"));
    action("trayRefresh")->trigger();
    EXPECT_TRUE(TitleIs("Ornbrook"));
    EXPECT_EQ(Desktop().State().IconKind(), TrayState::Kind::Failures);
    EXPECT_EQ(tray->toolTip(), "Ornbrook\n1 URL failed");

    action("trayCheck")->trigger();
    EXPECT_TRUE(Watch().GetURL(1)->IsCheckPending());
    ASSERT_TRUE(WaitForChecks());

    // A click on the icon shows a hidden window; Show does too.
    form->hide();
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form->isVisible());
    form->hide();
    action("trayShow")->trigger();
    EXPECT_TRUE(form->isVisible());
    action("trayQuit")->trigger();
    EXPECT_EQ(shutDowns, 1);
}

} // namespace

#include "DesktopTest.moc"
