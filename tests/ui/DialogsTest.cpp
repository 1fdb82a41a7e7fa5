#include "ui/AboutForm.h"
#include "ui/OptionsForm.h"

#include "app/FileIO_Code.h"
#include "model/MainInterface_Modul.h"
#include "platform/windows_Interface.h"
#include "tests/support/TempProgramDir.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

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

std::string IntervalFile() {
    return OptionsForm::IntervalFileName();
}

QSize ClientPixels(double twipsWide, double twipsHigh) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return {qRound(twipsWide * screen->logicalDotsPerInchX() / 1440),
            qRound(twipsHigh * screen->logicalDotsPerInchY() / 1440)};
}

TEST(OptionsForm, ShowsTheTrimmedLineAndWritesOnOkOnly) {
    test::TempProgramDir dir;
    WriteText(IntervalFile(), " 300");
    {
        OptionsForm options(nullptr);
        EXPECT_EQ(options.windowTitle(), "Options");
        EXPECT_EQ(options.Label1()->text(), "Check-Interval (sek):");
        EXPECT_EQ(options.Text1()->text(), "300");
        EXPECT_EQ(options.Command1()->text(), "OK");
        EXPECT_TRUE(options.Command1()->isDefault());
        EXPECT_EQ(options.Command2()->text(), "Cancel");
        // The design size, wider only by what the label's text needs in this font.
        const QSize design = ClientPixels(2745, 1065);
        const int missing =
            std::max(0, options.Label1()->sizeHint().width() - design.width() * 1575 / 2745);
        EXPECT_NEAR(options.width(), design.width() + missing, 1);
        EXPECT_EQ(options.height(), design.height());
        EXPECT_GE(options.Label1()->width(), options.Label1()->sizeHint().width());
        EXPECT_LE(options.Text1()->geometry().right(), options.width());
        EXPECT_EQ(options.minimumSize(), options.maximumSize());
        EXPECT_FALSE(options.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_FALSE(options.windowFlags() & Qt::WindowMinimizeButtonHint);
        options.Command1()->click();
        EXPECT_EQ(options.result(), QDialog::Accepted);
    }
    // OK without a change drops the blank; the text reads the same.
    EXPECT_EQ(test::ReadBytes(IntervalFile()), "300\r\n");

    const struct {
        const char* typed;
        Qt::Key key; // Enter presses OK, Esc is Cancel
        const char* stored;
    } cases[] = {
        {"60", Qt::Key_Return, "60\r\n"},
        {"2.5", Qt::Key_Enter, "2.5\r\n"},
        {" a word ", Qt::Key_Return, " a word \r\n"},
        {"", Qt::Key_Return, "\r\n"},
        {"-1", Qt::Key_Return, "-1\r\n"},
        {"999", Qt::Key_Escape, "-1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        OptionsForm options(nullptr);
        options.show();
        options.Text1()->setText(c.typed);
        QTest::keyClick(options.Text1(), c.key);
        EXPECT_FALSE(options.isVisible());
        EXPECT_EQ(test::ReadBytes(IntervalFile()), c.stored);
    }

    // Cancel and the close box write nothing.
    for (const bool closeBox : {false, true}) {
        OptionsForm options(nullptr);
        options.show();
        options.Text1()->setText("5");
        if (closeBox)
            options.close();
        else
            options.Command2()->click();
        EXPECT_EQ(options.result(), QDialog::Rejected);
        EXPECT_EQ(test::ReadBytes(IntervalFile()), "-1\r\n");
    }
}

TEST(OptionsForm, OpenedBeforeTheFirstTickCreatesAnEmptyLine) {
    test::TempProgramDir dir;
    OptionsForm options(nullptr);
    EXPECT_EQ(options.Text1()->text(), "");
    EXPECT_EQ(test::ReadBytes(IntervalFile()), "\r\n");
}

TEST(AboutForm, TextsColoursAndLinks) {
    AboutForm about(nullptr);
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.size(), ClientPixels(4680, 2400));
    EXPECT_EQ(about.palette().color(QPalette::Window), QColor(Qt::black));
    const struct {
        QString text;
        bool link;
        QString tip;
    } labels[] = {
        {"tHls t00l w4s c0D3d bY", false, ""},
        {"Ornbrook", true, "c0d3r"},
        {QString::fromUtf8("pl34sE v1sIt mY l1tt|3 h0MeP4g\u20ac"), false, ""},
        {"https://ornbrook.example.org/", true, QString::fromUtf8("h0MeP4g\u20ac")},
        {QString::fromUtf8("oR s3Nd m\u20ac 4 m41L"), false, ""},
        {"ornbrook@example.org", true, "m41L"},
    };
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        const QLabel* label = about.Label(n);
        const auto& want = labels[n - 1];
        EXPECT_EQ(label->text(), want.text);
        EXPECT_EQ(label->toolTip(), want.tip);
        EXPECT_EQ(label->alignment(), Qt::AlignHCenter | Qt::AlignTop);
        EXPECT_EQ(label->font().bold(), want.link);
        EXPECT_EQ(label->font().underline(), n == 4 || n == 6);
        EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 8.25);
        EXPECT_EQ(label->palette().color(QPalette::WindowText),
                  want.link ? QColor(255, 255, 0) : QColor(0, 255, 0));
        if (n == 4 || n == 6) {
            EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
        }
    }
    EXPECT_EQ(about.Label(7)->palette().color(QPalette::WindowText), QColor(0, 255, 0));

    OpenedUrls opened;
    QDesktopServices::setUrlHandler("https", &opened, "Open");
    QDesktopServices::setUrlHandler("mailto", &opened, "Open");
    about.show();
    QTest::mouseClick(about.Label(2), Qt::LeftButton);
    QTest::mouseClick(about.Label(4), Qt::RightButton);
    EXPECT_TRUE(opened.urls.isEmpty());
    QTest::mouseClick(about.Label(4), Qt::LeftButton);
    QTest::mouseClick(about.Label(6), Qt::LeftButton);
    ASSERT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls[0], QUrl("https://ornbrook.example.org/"));
    EXPECT_EQ(opened.urls[1], QUrl("mailto:ornbrook@example.org"));
    // An empty address still opens a new mail, without a recipient.
    SendMail("");
    ASSERT_EQ(opened.urls.size(), 3);
    EXPECT_EQ(opened.urls[2].scheme(), "mailto");
    EXPECT_TRUE(opened.urls[2].path().isEmpty());
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("mailto");
}

// The menu shows each dialog modal, anew each time, centred over the main window.
TEST(MainFormDialogs, MenuShowsThemModalAndCentred) {
    test::TempProgramDir dir;
    WriteText(IntervalFile(), "42");
    CreateMainInterface();
    {
        MainForm form([] {});
        form.Form_Load();
        form.setGeometry(100, 80, 500, 400);
        form.show();
        QStringList seen;
        for (const char* menu : {"mnuOptions", "mnuAbout", "mnuOptions"}) {
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr);
                seen << dialog->windowTitle();
                EXPECT_LE(
                    (dialog->geometry().center() - form.geometry().center()).manhattanLength(), 2);
                if (auto* options = dynamic_cast<OptionsForm*>(dialog)) {
                    EXPECT_EQ(options->Text1()->text(), seen.size() == 1 ? "42" : "7");
                    options->Text1()->setText("7");
                    options->Command1()->click();
                } else {
                    dialog->close();
                }
            });
            form.Menu(menu)->trigger();
        }
        EXPECT_EQ(seen, QStringList({"Options", "About", "Options"}));
    }
    DestroyMainInterface();
}

} // namespace

#include "DialogsTest.moc"
