// The main window as a newcomer meets it: every command by menu, toolbar,
// context menu and screen reader; what an empty list and a failed URL say;
// contrast, layout and what a restart keeps.
#include "ui/MainForm.h"

#include "base/FileIO_Code.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/DividingLine.h"
#include "ui/ListViewDelegate.h"
#include "ui/MainFormColours.h"
#include "ui/Twips.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QToolBar>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace ornbrook;
using test::Watched;

namespace {

using NewcomerTest = test::MainFormFixture;

const std::string Unreachable = "ftp://127.0.0.1:1/";

QString Description(QAccessibleInterface* view, int row) {
    // The list's cells, as a screen reader walks them (a header row first).
    QAccessibleTableInterface* table = view->tableInterface();
    return table ? table->cellAt(row, 0)->text(QAccessible::Description) : QString();
}

TEST_F(NewcomerTest, EveryCommandIsFoundByNameAndDoesWhatItsKeyDoes) {
    Load({Watched("ftp://a/", "", {{"a1", 1}}), Watched("ftp://b/")});
    QWidget* window = form.get();
    const auto button = [&](const char* name) {
        return test::FindAccessible(window, QAccessible::PushButton, name);
    };
    // The menu bar: the URL menu and the design's four commands.
    for (const char* name : {"URL", "Refresh", "Options", "Help", "About"})
        EXPECT_NE(test::FindAccessible(window, QAccessible::MenuItem, name), nullptr) << name;
    for (const char* name : {"Add URL", "Edit URL", "Delete URL", "Check now", "Refresh"})
        EXPECT_NE(button(name), nullptr) << name;
    EXPECT_NE(test::FindAccessible(window, QAccessible::Tree, "Watched URLs"), nullptr);
    EXPECT_NE(test::FindAccessible(window, QAccessible::Tree, "Files of the selected URL"),
              nullptr);

    // Without a selection only Add is offered.
    URLs().selectionModel()->clear();
    EXPECT_FALSE(Menu("mnuEdit")->isEnabled());
    EXPECT_FALSE(Menu("mnuDelete")->isEnabled());
    EXPECT_FALSE(Menu("mnuCheckNow")->isEnabled());
    EXPECT_FALSE(Menu("mnuUndoDelete")->isEnabled());

    // Add opens the editor on a new row, as Insert does.
    test::Press(button("Add URL"));
    ASSERT_NE(test::OpenEditor(URLs().viewport()), nullptr);
    EndEdit("c/", Qt::Key_Return, true);
    ASSERT_EQ(Watch().GetURLsCount(), 3);
    EXPECT_EQ(Watch().GetURL(3)->URL(), "ftp://c/"); // the editor's text, made a URL
    EXPECT_TRUE(IsSelected(2));
    ASSERT_TRUE(WaitForChecks());

    // Edit from the context menu shows the URL in the editor, as F2 does.
    Select(1);
    auto* context = form->findChild<QMenu*>("URLContextMenu");
    ASSERT_NE(context, nullptr);
    Q_EMIT URLs().customContextMenuRequested(URLs().visualRect(Item(1)).center());
    EXPECT_TRUE(context->isVisible());
    context->hide();
    Menu("mnuEdit")->trigger();
    QLineEdit* editor = test::OpenEditor(URLs().viewport());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "ftp://b/");
    EndEdit("", Qt::Key_Escape);

    // Check now checks the selected URL, Delete deletes it, Undo delete brings it back.
    Menu("mnuCheckNow")->trigger();
    EXPECT_TRUE(Watch().GetURL(2)->IsCheckPending());
    ASSERT_TRUE(WaitForChecks());
    test::Press(button("Delete URL"));
    EXPECT_EQ(Watch().GetURLsCount(), 2);
    EXPECT_TRUE(StatusMessage().startsWith("Deleted ftp://b/."));
    ASSERT_TRUE(Menu("mnuUndoDelete")->isEnabled());
    Menu("mnuUndoDelete")->trigger();
    EXPECT_EQ(Watch().GetURL(2)->URL(), "ftp://b/");
    EXPECT_FALSE(Menu("mnuUndoDelete")->isEnabled());
    // Refresh on the toolbar acknowledges, as the menu bar's does.
    test::Press(button("Refresh"));
    EXPECT_FALSE(Watch().GetURL(1)->IsChanged());
}

TEST_F(NewcomerTest, EmptyAndFailedStatesSayWhatIsGoingOn) {
    Load();
    auto* hint = form->findChild<QWidget*>("EmptyHint");
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_TRUE(URLs().accessibleDescription().startsWith("No URL is watched yet"));
    auto* banner = form->findChild<QWidget*>("UrlBanner");
    EXPECT_FALSE(banner->isVisible());
    form->findChild<QPushButton*>("EmptyHintAdd")->click();
    EXPECT_FALSE(hint->isVisible()); // the new row is there
    EndEdit("", Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(hint->isVisible());

    form.reset();
    DestroyMainInterface();
    Load({Watched(Unreachable + "x/", "could not connect: connection refused", {{"kept", 0}}),
          Watched(Unreachable + "never/"),
          Watched("ftp://b/", "", {{"n", 1}, {"g", 2}, {"o", 0}})});
    banner = form->findChild<QWidget*>("UrlBanner");
    const auto bannerText = [&] {
        return banner->isVisible() ? form->findChild<QLabel*>("BannerText")->text() : QString();
    };
    auto* checkNow = form->findChild<QPushButton*>("BannerCheckNow");
    EXPECT_FALSE(form->findChild<QWidget*>("EmptyHint")->isVisible());
    // The first URL failed: the banner says why above its files.
    EXPECT_EQ(bannerText(), "The last check failed: could not connect: connection refused");
    EXPECT_TRUE(checkNow->isVisible());
    EXPECT_FALSE(form->findChild<QWidget*>("BannerTrust")->isVisible());
    // A screen reader hears each URL's state and each file's mark.
    QAccessibleInterface* urls =
        test::FindAccessible(form.get(), QAccessible::Tree, "Watched URLs");
    ASSERT_NE(urls, nullptr);
    EXPECT_EQ(Description(urls, 0), "failed: could not connect: connection refused");
    EXPECT_EQ(Description(urls, 1), "not checked yet");
    EXPECT_EQ(Description(urls, 2), "1 new, 1 gone");
    checkNow->click();
    EXPECT_TRUE(bannerText().endsWith("Checking it again..."));
    EXPECT_FALSE(checkNow->isVisible());
    ASSERT_TRUE(WaitForChecks());

    Select(1);
    EXPECT_TRUE(bannerText().startsWith("Not checked yet")) << bannerText().toStdString();
    EXPECT_TRUE(checkNow->isVisible());
    Select(2);
    EXPECT_EQ(bannerText(), "");
    QCoreApplication::processEvents(); // the view lays out its new rows
    QAccessibleInterface* files =
        test::FindAccessible(form.get(), QAccessible::Tree, "Files of the selected URL");
    EXPECT_EQ(QStringList({Description(files, 0), Description(files, 1), Description(files, 2)}),
              QStringList({"new", "gone", "old"}));
    URLs().selectionModel()->clear();
    EXPECT_EQ(bannerText(), "Select a URL to see its files.");
}

// Text that carries a state keeps 4.5:1 against what it is drawn on, selected
// or not, in both lists.
TEST_F(NewcomerTest, StateColoursKeepTheirContrast) {
    Load({Watched(Unreachable + "failed/", "could not connect: x", {{"n", 1}, {"g", 2}, {"o", 0}}),
          Watched(Unreachable + "checking/"), Watched("ftp://plain/", "", {{"o", 0}})});
    Watch().GetURL(2)->CheckFiles();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Watch().GetURL(2)->IsChecking() || !Watch().GetURL(2)->IsCheckPending(); }));
    QStringList looks;
    const auto check = [&](QTreeView& view) {
        const QColor base = view.palette().color(QPalette::Base);
        for (int r = 0; r < view.model()->rowCount(); ++r) {
            const QModelIndex index = view.model()->index(r, 0);
            const QColor text = index.data(Qt::ForegroundRole).value<QBrush>().color();
            const QVariant band = index.data(Qt::BackgroundRole);
            const QColor behind = band.isValid() ? band.value<QBrush>().color() : base;
            looks << index.data().toString();
            EXPECT_GE(test::Contrast(text, behind), 4.5) << index.data().toString().toStdString();
            EXPECT_GE(test::Contrast(text, ListViewDelegate::HighlightColour()), 4.5)
                << index.data().toString().toStdString() << " selected";
        }
    };
    check(URLs());
    check(Files());
    EXPECT_EQ(looks.size(), 6);
    // The design's grey text and the grey list still meet where text is black.
    EXPECT_GE(test::Contrast(BlackText(), ListBackground()), 4.5);
    ASSERT_TRUE(WaitForChecks());
}

TEST_F(NewcomerTest, LayoutKeepsBothPanesAndEveryTextReadable) {
    const std::string longName = "a-very-long-file-name-" + std::string(120, 'x') + "-end.tar.gz";
    Load({Watched("ftp://a/", "", {{longName, 0}})});
    form->resize(100, 60);
    QCoreApplication::processEvents();
    EXPECT_GE(form->width(), 320);
    EXPECT_GE(form->height(), 240);
    // Shrunk, then grown back: the URL pane keeps its share of the width.
    form->resize(900, 500);
    QCoreApplication::processEvents();
    const int before = URLs().width();
    form->resize(320, 240);
    QCoreApplication::processEvents();
    form->resize(900, 500);
    QCoreApplication::processEvents();
    EXPECT_GE(URLs().width(), 900 / 5);
    EXPECT_NEAR(URLs().width(), before, 2);
    // File names lose their middle, and show whole in their tooltip.
    EXPECT_EQ(Files().textElideMode(), Qt::ElideMiddle);
    EXPECT_EQ(Files().model()->index(0, 0).data(Qt::ToolTipRole).toString(),
              QString::fromStdString(longName));
    // Where the user puts the bar is stored in twips, as before.
    form->MoveDividingLine(3000);
    form->close();
    EXPECT_EQ(ReadFirstLine(dir.File("MainForm_DividingLine.pos"), ""), " 3000");

    // A long message is shortened in the middle, whole in its tooltip.
    form.reset();
    DestroyMainInterface();
    Load({Watched("ftp://files.example.org/" + std::string(200, 'd') + "/")});
    Select(0);
    Key(&URLs(), Qt::Key_Delete);
    auto* message = form->findChild<QLabel*>("StatusMessage");
    EXPECT_TRUE(StatusMessage().endsWith(". Ctrl+Z brings it back."));
    EXPECT_TRUE(message->text().endsWith("brings it back.")) << message->text().toStdString();
    EXPECT_TRUE(message->text().contains(QChar(0x2026)));
    EXPECT_EQ(message->toolTip(), StatusMessage());
}

TEST_F(NewcomerTest, TheSelectedURLComesBackAfterARestartAndKeysWorkAtOnce) {
    // Two of them differ only in their password: the one selected comes back.
    const std::vector<UrlRecord> urls = {Watched("ftp://a/"), Watched("ftp://anna:s3cret@b/"),
                                         Watched("ftp://anna:other@b/"), Watched("ftp://c/")};
    Load(urls);
    Select(2);
    form->close();
    const std::string stored = ReadFirstLine(dir.File("selected.dat"), "");
    EXPECT_TRUE(stored.starts_with("ftp://anna:***@b/ ")) << stored;
    EXPECT_EQ(stored.find("other"), std::string::npos);
    form.reset();
    DestroyMainInterface();
    Load(urls);
    EXPECT_TRUE(IsSelected(2));
    // The keys work at once where the focus is: in the URL list.
    ASSERT_EQ(QApplication::focusWidget(), &URLs());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_TRUE(IsSelected(3));
    // What is typed right after Insert lands in the editor, while checks run.
    URLs().setCurrentIndex(Item(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Insert);
    QTest::keyClicks(QApplication::focusWidget(), "127.0.0.1:1/typed/");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(Watch().GetURLsCount(), 5);
    EXPECT_EQ(Watch().GetURL(5)->URL(), "ftp://127.0.0.1:1/typed/");
    ASSERT_TRUE(WaitForChecks());
    // Gone meanwhile (removed from the command line): the first URL, as before.
    form->close();
    form.reset();
    DestroyMainInterface();
    Load({urls[0], urls[3]});
    EXPECT_TRUE(IsSelected(0));
}

} // namespace
