#include "ui/AboutForm.h"
#include "ui/HistoryForm.h"
#include "ui/OptionsForm.h"

#include "base/FileIO_Code.h"
#include "model/Preferences.h"
#include "platform/windows_Interface.h"
#include "tests/support/TempProgramDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace ornbrook;

// Receives what the program hands to the desktop instead of a browser or mail program.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void Open(const QUrl& url) { urls << url; }
};

namespace {

// The interval and the wait for uploads: each is stored only when it can be
// taken, and only on OK.
TEST(OptionsForm, StoresOnlyWhatItCanTakeAndOnlyOnOk) {
    test::TempProgramDir dir;
    using End = std::function<void(OptionsForm&)>;
    const End ok = [](OptionsForm& o) { o.Command1()->click(); };
    const End cancel = [](OptionsForm& o) { o.Command2()->click(); };
    const End closeBox = [](OptionsForm& o) { o.close(); };
    const auto key = [](Qt::Key k) -> End {
        return [k](OptionsForm& o) { QTest::keyClick(o.Text1(), k); };
    };
    struct Case {
        const char* before; // nullptr: no file
        const char* shown;
        const char* typed; // nullptr: left as shown
        End end;
        const char* after;   // nullptr: the dialog stays open, the file as before
        const char* refusal; // a part of the reason shown, "" for none
    };
    const std::vector<Case> interval = {
        {" 300", "300", nullptr, ok, "300\r\n", ""}, // OK without a change drops the blank
        // Opening first creates the default the periodic check would.
        {nullptr, "300", "5", key(Qt::Key_Escape), " 300\r\n", ""},
        {"1", "1", "60", key(Qt::Key_Return), "60\r\n", ""},
        {"1", "1", " 0 ", key(Qt::Key_Enter), "0\r\n", ""},
        {"1", "1", "86400", ok, "86400\r\n", ""},
        {"1", "1", "-5", ok, nullptr, "cannot be negative"},
        {"1", "1", "abc", ok, nullptr, "whole number"},
        {"1", "1", "2.5", key(Qt::Key_Return), nullptr, "whole number"},
        {"1", "1", "86401", ok, nullptr, "at most 86,400"},
        {"1", "1", "99999999999", ok, nullptr, "at most 86,400"},
        {"1", "1", "", ok, nullptr, "0 switches the periodic check off"},
        // A stored line it cannot take shows as what the periodic check makes of it.
        {"a word", "0", nullptr, ok, "0\r\n", ""},
        {"2.5", "2", nullptr, ok, "2\r\n", ""},
        {"-1", "0", "999", cancel, "-1\r\n", ""},
        {"-1", "0", "5", closeBox, "-1\r\n", ""},
        {"100000", "100000", nullptr, ok, nullptr, "at most 86,400"},
    };
    const std::vector<Case> settle = {
        {nullptr, "15", "0", ok, "0\r\n", ""},
        {"30", "30", " 007 ", ok, "7\r\n", ""},
        {"junk", "15", "86400", ok, "86400\r\n", ""},
        {"30", "30", "86401", ok, nullptr, "at most 86,400"},
        {"30", "30", "-1", ok, nullptr, "cannot be negative"},
        {"30", "30", "", ok, nullptr, "0 reports uploads at once"},
    };
    const auto run = [](Preferences::Key setting, const char* field, const char* problemName,
                        const std::string& missing, const std::vector<Case>& cases) {
        const std::string file = Preferences::FileName(setting);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(field) + " " + (c.typed ? c.typed : c.shown));
            DeleteFileIfExists(file);
            if (c.before)
                WriteText(file, c.before);
            const std::string before = c.before ? test::ReadBytes(file) : missing;
            Preferences preferences = Preferences::Load();
            OptionsForm options(nullptr, preferences);
            options.show();
            auto* text = options.findChild<QLineEdit*>(field);
            EXPECT_EQ(text->text(), c.shown);
            if (c.typed)
                text->setText(c.typed);
            c.end(options);
            const QLabel* problem = options.findChild<QLabel*>(problemName);
            EXPECT_EQ(options.isVisible(), c.after == nullptr);
            EXPECT_EQ(FileExists(file) ? test::ReadBytes(file) : "", c.after ? c.after : before);
            if (!c.after) {
                EXPECT_TRUE(problem->isVisible());
                EXPECT_TRUE(problem->text().contains(c.refusal)) << problem->text().toStdString();
                EXPECT_EQ(text->accessibleDescription(), problem->text());
            }
        }
    };
    run(Preferences::Key::Interval, "Text1", "Problem1", " 300\r\n", interval);
    DeleteFileIfExists(Preferences::FileName(Preferences::Key::Interval)); // the default
    run(Preferences::Key::Settle, "Text3", "Problem3", "", settle);
    // The label keeps its whole text in any font.
    Preferences preferences = Preferences::Load();
    OptionsForm options(nullptr, preferences);
    EXPECT_GE(options.Label1()->width(), options.Label1()->sizeHint().width());
    EXPECT_EQ(options.findChild<QLabel*>("Hint1")->text(), "0 = off");
    // The desktop notices' switch: on by default, stored on OK.
    EXPECT_TRUE(options.Check1()->isChecked());
    options.Check1()->setChecked(false);
    options.Command1()->click();
    EXPECT_EQ(test::ReadBytes(Preferences::FileName(Preferences::Key::Notify)), "0\r\n");
}

// The name opens the home page, the address a new mail; other clicks nothing.
TEST(AboutForm, LinksOpenOnALeftClick) {
    AboutForm about(nullptr);
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("https", &opened, "Open");
    QDesktopServices::setUrlHandler("mailto", &opened, "Open");
    about.show();
    QTest::mouseClick(about.Label(2), Qt::LeftButton);
    QTest::mouseClick(about.Label(4), Qt::RightButton);
    QTest::mouseClick(about.Label(4), Qt::LeftButton);
    QTest::mouseClick(about.Label(6), Qt::LeftButton);
    // An empty address still opens a new mail, without a recipient.
    SendMail("");
    EXPECT_EQ(opened.urls, QList<QUrl>({QUrl("https://ornbrook.example.org/"),
                                        QUrl("mailto:ornbrook@example.org"), QUrl("mailto:")}));
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");
}

// Newest first, one line each (escaped), filtered by URL and by event alike.
TEST(HistoryForm, ShowsEventsNewestFirstFilteredByUrlAndEvent) {
    HistoryForm history(nullptr, {{1, "ftp://a/ TAG", "new", "x\ny", ""},
                                  {2, "ftp://b/ TAG", "saved", "z", "/in/z"},
                                  {3, "ftp://a/ TAG", "check failed", "", "timed out"}});
    auto* table = history.findChild<QTableWidget*>("HistoryTable");
    const auto rows = [table] {
        QStringList shown;
        for (int r = 0; r < table->rowCount(); ++r)
            shown << table->item(r, 1)->text() + " " + table->item(r, 2)->text() + " " +
                         table->item(r, 3)->text();
        return shown;
    };
    EXPECT_EQ(rows(),
              QStringList({"ftp://a/ check failed ", "ftp://b/ saved z", "ftp://a/ new x\\ny"}));
    history.findChild<QComboBox*>("HistoryUrl")->setCurrentText("ftp://a/");
    EXPECT_EQ(rows(), QStringList({"ftp://a/ check failed ", "ftp://a/ new x\\ny"}));
    history.findChild<QComboBox*>("HistoryEvent")->setCurrentText("new");
    EXPECT_EQ(rows(), QStringList({"ftp://a/ new x\\ny"}));
}

} // namespace

#include "DialogsTest.moc"
