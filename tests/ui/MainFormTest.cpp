#include "ui/MainForm.h"

#include "app/FileIO_Code.h"
#include "ftp/CheckRunner.h"
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"
#include "model/UrlFileList.h"
#include "tests/support/TempProgramDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FilesModel.h"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace ornbrook;
using test::Watched;

namespace {

// A URL whose check fails at once: nothing listens on port 1.
const std::string Unreachable = "ftp://127.0.0.1:1/";

using MainFormTest = test::MainFormFixture;
using test::Black;
using test::Grey;
using test::Red;

TEST_F(MainFormTest, LoadShowsTheWatchListAndCreatesTheSettingsFiles) {
    Load({Watched("ftp://one/"), Watched("ftp://caf\xc3\xa9/"), Watched("ftp://\xe9t\xe9/")});
    EXPECT_EQ(form->windowTitle(), "Ornbrook");
    ASSERT_EQ(URLs().topLevelItemCount(), 3);
    EXPECT_EQ(URLs().headerItem()->text(0), "URL");
    EXPECT_EQ(form->Files()->model()->headerData(0, Qt::Horizontal), "Content");
    // Shown decoded, matched by the exact bytes (the last one is not UTF-8).
    EXPECT_EQ(Item(1)->text(0), QString::fromUtf8("ftp://caf\xc3\xa9/"));
    EXPECT_EQ(Item(2)->text(0), QString::fromLatin1("ftp://\xe9t\xe9/"));
    EXPECT_EQ(MainForm::ItemURL(Item(2)), "ftp://\xe9t\xe9/");
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm_DividingLine.pos")), " 2760\r\n");
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm.pos")), "\r\n");

    QStringList captions;
    for (const QAction* action : form->menuBar()->actions()) {
        captions << action->text();
        EXPECT_EQ(action->menu(), nullptr);
        EXPECT_TRUE(action->shortcut().isEmpty());
    }
    EXPECT_EQ(captions, QStringList({"&Refresh", "&Options", "&Help", "&About"}));
    EXPECT_TRUE(form->CheckTimer()->isActive());
    EXPECT_EQ(form->CheckTimer()->interval(), 1000);
}

TEST_F(MainFormTest, DisplayRulesOnRealItems) {
    Load({Watched("ftp://failed/", "could not connect", {{"kept", 0}}),
          Watched("ftp://changed/", "", {{"old.txt", 0}, {"new.txt", 1}, {"gone.txt", 2}}),
          Watched("ftp://calm/", "", {{"a", 0}, {"b", 0}})});
    EXPECT_EQ(Item(0)->foreground(0).color(), Red);
    EXPECT_FALSE(Item(0)->font(0).bold());
    EXPECT_EQ(Item(1)->foreground(0).color(), Black);
    EXPECT_TRUE(Item(1)->font(0).bold());
    EXPECT_EQ(Item(2)->foreground(0).color(), Black);
    EXPECT_FALSE(Item(2)->font(0).bold());

    QAbstractItemModel* files = form->Files()->model();
    EXPECT_EQ(files->rowCount(), 0); // nothing selected
    Select(1);
    ASSERT_EQ(files->rowCount(), 3);
    const struct {
        QString name;
        bool bold;
        QColor colour;
    } rows[] = {{"old.txt", false, Black}, {"new.txt", true, Black}, {"gone.txt", false, Grey}};
    for (int r = 0; r < 3; ++r) {
        const QModelIndex index = files->index(r, 0);
        EXPECT_EQ(index.data().toString(), rows[r].name);
        EXPECT_EQ(index.data(Qt::FontRole).value<QFont>().bold(), rows[r].bold) << r;
        EXPECT_EQ(index.data(Qt::ForegroundRole).value<QBrush>().color(), rows[r].colour) << r;
    }
    Select(2);
    EXPECT_EQ(files->rowCount(), 2);
    // A URL item whose text has no entry shows no files and stays as it is.
    Watch().RemoveURL("ftp://calm/");
    Watch().RaiseEvent_Change();
    EXPECT_EQ(files->rowCount(), 0);
    EXPECT_EQ(URLs().topLevelItemCount(), 3);

    // Refresh acknowledges every change.
    form->Menu("mnuRefresh")->trigger();
    EXPECT_FALSE(Item(1)->font(0).bold());
    Select(1);
    EXPECT_EQ(files->rowCount(), 2);
    EXPECT_FALSE(files->index(1, 0).data(Qt::FontRole).value<QFont>().bold());
}

TEST_F(MainFormTest, RedrawKeepsThePlaceInALongFileList) {
    std::vector<FileEntry> many;
    for (int i = 0; i < 500; ++i)
        many.push_back({"file" + std::to_string(i), 0});
    Load({Watched("ftp://many/", "", many), Watched("ftp://also/", "", many)});
    Select(0);
    QCoreApplication::processEvents();
    QScrollBar* bar = form->Files()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    bar->setValue(100);
    Watch().RaiseEvent_Change();
    EXPECT_EQ(form->Files()->model()->rowCount(), 500);
    EXPECT_EQ(bar->value(), 100);
    Select(1); // another URL starts at the top
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(MainFormTest, InsertTypeEnterAddsAndChecks) {
    Load();
    Key(&URLs(), Qt::Key_Insert);
    ASSERT_EQ(URLs().topLevelItemCount(), 1);
    EXPECT_EQ(Item(0)->text(0), "ftp://");
    EXPECT_TRUE(Item(0)->isSelected());
    EXPECT_EQ(Watch().GetURLsCount(), 0); // untouched until the edit ends
    EndEdit("127.0.0.1:1/", Qt::Key_Return);

    ASSERT_EQ(Watch().GetURLsCount(), 1);
    const auto entry = Watch().GetURL(1);
    EXPECT_EQ(entry->URL(), Unreachable);
    EXPECT_EQ(entry->GetErrorMsg(), "could not connect"); // it was checked
    EXPECT_EQ(MainForm::ItemURL(Item(0)), Unreachable);
    EXPECT_EQ(Item(0)->foreground(0).color(), Red);
    EXPECT_EQ(test::ReadBytes(MainInterface::DataFileName()).size(),
              3u + 6 + Unreachable.size() + 17);

    // The same text a second time: two items, one entry.
    Key(&URLs(), Qt::Key_Insert);
    EndEdit("127.0.0.1:1/", Qt::Key_Enter);
    EXPECT_EQ(URLs().topLevelItemCount(), 2);
    EXPECT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Item(1)->foreground(0).color(), Red);
}

TEST_F(MainFormTest, AbandonedEditsReachNeitherAddNorRename) {
    Load({Watched("ftp://kept/")});
    Key(&URLs(), Qt::Key_Insert);
    EndEdit("somewhere/", Qt::Key_Escape);
    EXPECT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(MainForm::ItemURL(Item(1)), "ftp://");

    Select(0);
    Key(&URLs(), Qt::Key_F2);
    EndEdit("", Qt::Key_Escape, true);
    EXPECT_EQ(Watch().GetURL(1)->URL(), "ftp://kept/");
    EXPECT_FALSE(Watch().GetURL(1)->IsError()); // not checked
    EXPECT_EQ(MainForm::ItemURL(Item(0)), "ftp://kept/");
}

TEST_F(MainFormTest, F2RenamesTheEntryAndChecksIt) {
    Load({Watched("ftp://127.0.0.1:1/old/", "", {{"a", 0}, {"b", 1}}),
          Watched("ftp://127.0.0.1:1/other/")});
    Key(&URLs(), Qt::Key_F2); // no selection: nothing
    EXPECT_EQ(test::OpenEditor(URLs().viewport()), nullptr);
    Select(0);
    Key(form->Files(), Qt::Key_F2); // the key preview covers both lists
    EndEdit("ftp://127.0.0.1:1/renamed/", Qt::Key_Return, true);
    ASSERT_EQ(Watch().GetURLsCount(), 2);
    const auto entry = Watch().GetURL(1);
    EXPECT_EQ(entry->URL(), "ftp://127.0.0.1:1/renamed/");
    EXPECT_TRUE(entry->IsError());
    // Its files stay until a check merges them.
    EXPECT_EQ(entry->GetFilesCount(), 2);
    EXPECT_EQ(Item(0)->text(0), "ftp://127.0.0.1:1/renamed/");
    EXPECT_EQ(Item(0)->foreground(0).color(), Red);
    EXPECT_TRUE(Item(0)->font(0).bold());
    EXPECT_EQ(form->Files()->model()->rowCount(), 2);
}

TEST_F(MainFormTest, EnterAndDoubleClickCheckTheSelectedURL) {
    Load({Watched("ftp://127.0.0.1:1/a/"), Watched("ftp://127.0.0.1:1/b/")});
    Key(&URLs(), Qt::Key_Return); // no selection: nothing
    EXPECT_FALSE(Watch().GetURL(1)->IsError());
    EXPECT_FALSE(Watch().GetURL(2)->IsError());
    Select(1);
    Key(&URLs(), Qt::Key_Return);
    EXPECT_FALSE(Watch().GetURL(1)->IsError());
    EXPECT_TRUE(Watch().GetURL(2)->IsError());
    EXPECT_EQ(Item(1)->foreground(0).color(), Red);

    Select(0);
    const QRect cell = URLs().visualItemRect(Item(0));
    // A double click is a click followed by the double-click event.
    QTest::mouseClick(URLs().viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(URLs().viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(Watch().GetURL(1)->IsError());
}

TEST_F(MainFormTest, DeleteRemovesEntryAndItem) {
    Load({Watched("ftp://127.0.0.1:1/a/", "", {{"x", 0}}), Watched("ftp://127.0.0.1:1/b/")});
    Key(&URLs(), Qt::Key_Delete); // no selection: nothing
    EXPECT_EQ(Watch().GetURLsCount(), 2);
    Select(0);
    ASSERT_EQ(form->Files()->model()->rowCount(), 1);
    Key(&URLs(), Qt::Key_Delete);
    EXPECT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), "ftp://127.0.0.1:1/b/");
    ASSERT_EQ(URLs().topLevelItemCount(), 1);
    EXPECT_EQ(MainForm::ItemURL(Item(0)), "ftp://127.0.0.1:1/b/");
    // The data file lost the URL; the file list waits for the next redraw.
    EXPECT_EQ(test::ReadBytes(MainInterface::DataFileName()).size(), 3u + 6 + 20);
    EXPECT_EQ(form->Files()->model()->rowCount(), 1);
    Watch().RaiseEvent_Change();
    EXPECT_EQ(form->Files()->model()->rowCount(), 0);
}

TEST_F(MainFormTest, DividerDragsWithTheLeftButtonAlone) {
    Load();
    QWidget* bar = form->DividingLine();
    const auto move = [&](double x, Qt::MouseButtons buttons) {
        QMouseEvent event(QEvent::MouseMove, QPointF(x, 2), bar->mapToGlobal(QPointF(x, 2)),
                          Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    EXPECT_EQ(bar->cursor().shape(), Qt::SizeHorCursor);
    move(20, Qt::RightButton);
    move(20, Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(form->DividerLeft(), 2760);
    // 20 pixels are 300 twips; the bar's centre follows: 300 - 37.5 + 2760, to even.
    move(20, Qt::LeftButton);
    EXPECT_EQ(form->DividerLeft(), 3022);
    EXPECT_EQ(form->URLs()->width(), 201);
    EXPECT_EQ(form->Files()->x(), 206);
    // No limits: past the left edge.
    move(-400, Qt::LeftButton);
    EXPECT_LT(form->DividerLeft(), 0);
    EXPECT_EQ(form->URLs()->width(), 201); // a negative width is refused

    form->MoveDividingLine(2760);
    const int filesWidth = form->Files()->width();
    // Narrower than the divider: the files list keeps its width.
    form->resize(100, form->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(form->Files()->width(), filesWidth);
    EXPECT_EQ(form->URLs()->height(), form->centralWidget()->height());

    form->MoveDividingLine(3022);
    form->close();
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm_DividingLine.pos")), " 3022\r\n");
    EXPECT_EQ(shutDowns, 1);
}

TEST_F(MainFormTest, DividerFileThatIsNoNumberPutsTheDividerAtZero) {
    WriteText(dir.File("MainForm_DividingLine.pos"), "left");
    Load();
    EXPECT_EQ(form->DividerLeft(), 0);
    EXPECT_EQ(form->URLs()->width(), 0);
    EXPECT_EQ(form->Files()->x(), 5); // 75 twips
    form->MoveDividingLine(-120);
    form->close();
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm_DividingLine.pos")), "-120\r\n");
}

TEST_F(MainFormTest, UnloadSavesPlacementAndDividerThenShutsDown) {
    Load();
    form->setGeometry(40, 30, 400, 300);
    form->showMaximized();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(shutDowns, 1);
    EXPECT_EQ(ReadFirstLine(dir.File("MainForm.pos"), "").substr(0, 2), "12");
    // A second close does not unload again.
    form->close();
    EXPECT_EQ(shutDowns, 1);
}

TEST_F(MainFormTest, PeriodicCheckArithmetic) {
    const struct {
        const char* interval; // nullptr: no file
        int ticks;
        int checks;
        std::int64_t counter;
    } cases[] = {
        {nullptr, 1, 0, 1}, {"0", 5, 0, 0},   {"a word", 5, 0, 0}, {"", 5, 0, 0},
        {"-3", 3, 3, 0},    {"2.5", 5, 1, 2}, {"3.5", 5, 1, 0},    {" 1", 4, 2, 0},
    };
    Load({Watched("ftp://127.0.0.1:1/a/")});
    int checks = 0;
    SetCheckRunner([&](const BlockingWork& work) {
        ++checks;
        work();
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval ? c.interval : "(missing)");
        form.reset();
        checks = 0;
        DeleteFileIfExists(dir.File("interval.dat"));
        if (c.interval)
            WriteText(dir.File("interval.dat"), c.interval);
        form = std::make_unique<MainForm>([] {});
        form->Form_Load();
        for (int t = 0; t < c.ticks; ++t)
            form->CheckTimer_Timer();
        EXPECT_EQ(checks, c.checks);
        EXPECT_EQ(form->CheckCounter(), c.counter);
        if (!c.interval) {
            EXPECT_EQ(test::ReadBytes(dir.File("interval.dat")), " 300\r\n");
        }
    }
    // A new, smaller interval does not reset the counter: the next tick checks.
    WriteText(dir.File("interval.dat"), "300");
    for (int t = 0; t < 5; ++t)
        form->CheckTimer_Timer();
    checks = 0;
    WriteText(dir.File("interval.dat"), "2");
    form->CheckTimer_Timer();
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(form->CheckCounter(), 0);
}

TEST_F(MainFormTest, HelpMessageIsExact) {
    Load();
    const QString expected =
        QString::fromUtf8("menue:\r\n"
                          "\tRefresh (Alt + r): refreshs state of old and new files\r\n"
                          "\tOptions (Alt + o): opens a dialog with changeable options\r\n"
                          "\tHelp (Alt + h): opens this dialog\r\n"
                          "\tAbout (Alt + a): opens a dialog with informations about the coder\r\n"
                          "\r\n"
                          "keys:\r\n"
                          "\tF1: opens this dialog\r\n"
                          "\tIns: inserts a new URL\r\n"
                          "\tF2: edits selected URL\r\n"
                          "\tDel: deletes selected URL\r\n"
                          "\tEnter: checks selected URL for new files\r\n"
                          "\tAlt + F4: exits this tool\r\n"
                          "\r\n"
                          "URLs-properties:\r\n"
                          "\tbold: new or old files\r\n"
                          "\tgrey: checking\r\n"
                          "\tred: error\r\n"
                          "\r\n"
                          "Content-properties:\r\n"
                          "\tbold: new file\r\n"
                          "\tgrey: old file\r\n"
                          "\r\n"
                          "Send me a mail for more questions.");
    int shown = 0;
    for (const bool byMenu : {false, true}) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            ++shown;
            EXPECT_EQ(box->windowTitle(), "Help");
            EXPECT_EQ(box->text(), expected);
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            box->button(QMessageBox::Ok)->click();
        });
        if (byMenu)
            form->Menu("mnuHelp")->trigger();
        else
            Key(form->Files(), Qt::Key_F1);
    }
    EXPECT_EQ(shown, 2);
}

TEST_F(MainFormTest, CheckBeginsShowsGreyBeforeTheWork) {
    Load({Watched("ftp://127.0.0.1:1/a/", "could not connect")});
    QColor during;
    SetCheckRunner([&](const BlockingWork& work) {
        during = Item(0)->foreground(0).color();
        work();
    });
    Select(0);
    form->URLs_DblClick();
    EXPECT_EQ(during, Grey);
    EXPECT_EQ(Item(0)->foreground(0).color(), Red);
}

TEST(FilesModel, PassesTheModelTesterWhileRefilled) {
    test::TempProgramDir dir;
    FilesModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    UrlFileList list;
    list.MergeFreshListing({"a", "b", "c"});
    model.Fill(list);
    EXPECT_EQ(model.rowCount(), 3);
    list.RefreshList();
    list.MergeFreshListing({"b", "d"});
    model.Fill(list);
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.StateAt(0), FileStateGone);
    EXPECT_EQ(model.NameAt(3), "d");
    EXPECT_EQ(model.index(3, 0).data(), "d");
    model.Clear();
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
